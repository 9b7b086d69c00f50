#include "platform/core/code_page.h"

#include <gtest/gtest.h>

namespace tl {
namespace {

TEST(CodePage, DecodesWindows1252WithUndefinedBytesAsLatin1) {
  struct Case {
    unsigned char byte;
    char32_t codePoint;
    const char* utf8;
  };
  const Case cases[] = {
      {'A', U'A', "A"},          {0x7F, 0x7F, "\x7F"},
      {0x80, 0x20AC, "\u20AC"},  {0x81, 0x81, "\xC2\x81"},
      {0x8D, 0x8D, "\xC2\x8D"},  {0x8F, 0x8F, "\xC2\x8F"},
      {0x90, 0x90, "\xC2\x90"},  {0x9D, 0x9D, "\xC2\x9D"},
      {0x92, 0x2019, "\u2019"},  {0x9F, 0x0178, "\u0178"},
      {0xA0, 0xA0, "\xC2\xA0"},  {0xE9, 0xE9, "\xC3\xA9"},
      {0xFF, 0xFF, "\xC3\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.byte));
    EXPECT_EQ(Cp1252CodePoint(c.byte), c.codePoint);
    const std::string one(1, static_cast<char>(c.byte));
    EXPECT_EQ(Cp1252ToUtf8(one), c.utf8);
  }
}

TEST(CodePage, ValidUtf8BytesAreStillSingleByteCharacters) {
  // "é" in UTF-8 is two characters of the code page.
  EXPECT_EQ(Cp1252ToUtf8("\xC3\xA9"), "\xC3\x83\xC2\xA9");
}

}  // namespace
}  // namespace tl
