#include "platform/core/picture.h"

#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "platform/core/layout.h"

namespace tl {

namespace {

// Larger than any picture of ours; keeps a damaged header from asking for
// gigabytes.
constexpr int kLargestSide = 1024;
constexpr int kLargestCharsPerPixel = 4;

bool ReadNumber(std::string_view& text, int* value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  int n = 0;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    n = n * 10 + (text[digits] - '0');
    if (n > 1'000'000) return false;
    ++digits;
  }
  if (digits == 0) return false;
  text.remove_prefix(digits);
  *value = n;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value after the "c" key of one colour line: "#RRGGBB" or "None".
std::optional<std::uint32_t> ParseColour(std::string_view line) {
  std::size_t key = line.find(" c ");
  if (key == std::string_view::npos) return std::nullopt;
  std::string_view value = line.substr(key + 3);
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  if (value == "None") return 0u;
  if (value.size() != 7 || value[0] != '#') return std::nullopt;
  std::uint32_t rgb = 0;
  for (char c : value.substr(1)) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    rgb = rgb << 4 | static_cast<std::uint32_t>(digit);
  }
  return 0xFF000000u | rgb;
}

}  // namespace

std::optional<Picture> DecodeXpm(const char* const* xpm) {
  if (xpm == nullptr || xpm[0] == nullptr) return std::nullopt;
  std::string_view header = xpm[0];
  int width = 0, height = 0, colours = 0, cpp = 0;
  if (!ReadNumber(header, &width) || !ReadNumber(header, &height) || !ReadNumber(header, &colours) ||
      !ReadNumber(header, &cpp)) {
    return std::nullopt;
  }
  if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide || colours <= 0 ||
      cpp <= 0 || cpp > kLargestCharsPerPixel) {
    return std::nullopt;
  }
  const auto chars = static_cast<std::size_t>(cpp);
  std::map<std::string, std::uint32_t, std::less<>> palette;
  for (int i = 1; i <= colours; ++i) {
    if (xpm[i] == nullptr) return std::nullopt;
    std::string_view line = xpm[i];
    if (line.size() <= chars) return std::nullopt;
    std::optional<std::uint32_t> colour = ParseColour(line.substr(chars));
    if (!colour) return std::nullopt;
    palette[std::string(line.substr(0, chars))] = *colour;
  }
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    const char* row = xpm[1 + colours + y];
    if (row == nullptr || std::strlen(row) != static_cast<std::size_t>(width) * chars) return std::nullopt;
    for (int x = 0; x < width; ++x) {
      auto it = palette.find(std::string_view(row + static_cast<std::size_t>(x) * chars, chars));
      if (it == palette.end()) return std::nullopt;
      picture.pixels.push_back(it->second);
    }
  }
  return picture;
}

std::optional<Picture> LoadIconPicture(int iconResource) {
  return DecodeXpm(LoadIconResource(iconResource));
}

std::optional<Picture> LoadBitmapPicture(int bitmapResource) {
  return DecodeXpm(LoadBitmapResource(bitmapResource));
}

}  // namespace tl
