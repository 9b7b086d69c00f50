// The program's pictures decoded from their XPM text into plain pixels, so
// that every host turns them into its own kind of image the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tl {

struct Picture {
  int width = 0;
  int height = 0;
  // Row by row from the top, 0xAARRGGBB; a transparent pixel is 0.
  std::vector<std::uint32_t> pixels;

  std::uint32_t At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

// Decodes XPM text (header "width height colours chars-per-pixel", one line
// per colour with a "c" key of "#RRGGBB" or "None", then the rows). Nothing
// when the text breaks that form anywhere.
std::optional<Picture> DecodeXpm(const char* const* xpm);

// An icon or bitmap resource decoded; nothing when there is none.
std::optional<Picture> LoadIconPicture(int iconResource);
std::optional<Picture> LoadBitmapPicture(int bitmapResource);

}  // namespace tl
