#include "platform/core/picture.h"

#include <gtest/gtest.h>

#include "platform/core/layout.h"

namespace tl {
namespace {

TEST(Picture, DecodesColoursTransparencyAndTwoCharacterKeys) {
  const char* const xpm[] = {"3 2 3 2", "   c None", "ab c #102030", "cd c #FFffFF",
                             "ab  cd", "cdabab"};
  std::optional<Picture> p = DecodeXpm(xpm);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 3);
  EXPECT_EQ(p->height, 2);
  const std::vector<std::uint32_t> expected = {0xFF102030u, 0u,          0xFFFFFFFFu,
                                               0xFFFFFFFFu, 0xFF102030u, 0xFF102030u};
  EXPECT_EQ(p->pixels, expected);
}

TEST(Picture, RefusesTextThatBreaksTheForm) {
  const char* const noHeader[] = {"3 2", nullptr};
  const char* const shortRow[] = {"2 1 1 1", ". c #000000", "."};
  const char* const unknownKey[] = {"2 1 1 1", ". c #000000", ".x"};
  const char* const namedColour[] = {"1 1 1 1", ". c red", "."};
  const char* const missingRow[] = {"1 2 1 1", ". c #000000", ".", nullptr};
  const char* const huge[] = {"100000 100000 1 1", ". c #000000", nullptr};
  const char* const* cases[] = {noHeader, shortRow, unknownKey, namedColour, missingRow, huge};
  for (const char* const* xpm : cases) {
    SCOPED_TRACE(xpm[0]);
    EXPECT_FALSE(DecodeXpm(xpm));
  }
}

TEST(Picture, TheProgramsPicturesDecode) {
  std::optional<Picture> icon = LoadIconPicture(kIconApp);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 32);
  EXPECT_EQ(icon->height, 32);
  EXPECT_EQ(icon->At(0, 0), 0u);  // the corners show the background
  std::optional<Picture> strip = LoadBitmapPicture(kBitmapStateImages);
  ASSERT_TRUE(strip);
  EXPECT_EQ(strip->width, 8 * 16);
  EXPECT_EQ(strip->height, 16);
  EXPECT_EQ(strip->At(0, 0), 0xFF00C000u);
  EXPECT_FALSE(LoadIconPicture(kBitmapStateImages));
}

}  // namespace
}  // namespace tl
