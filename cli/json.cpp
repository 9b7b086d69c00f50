#include "cli/json.h"

#include "platform/console/console_text.h"
#include "platform/core/code_page.h"

namespace tl::cli {

namespace {

void AppendHex4(std::string& out, char32_t unit) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(unit >> shift) & 0x0F];
}

// One character: printable ASCII as it is, the rest as \uXXXX (a surrogate
// pair beyond the basic plane).
void AppendCharacter(std::string& out, char32_t c) {
  if (c == '"' || c == '\\') {
    out += '\\';
    out += static_cast<char>(c);
  } else if (c >= 0x20 && c < 0x7F) {
    out += static_cast<char>(c);
  } else if (c > 0xFFFF) {
    AppendHex4(out, 0xD800 + ((c - 0x10000) >> 10));
    AppendHex4(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    AppendHex4(out, c);
  }
}

}  // namespace

std::string JsonString(std::string_view codePageText) {
  std::string out = "\"";
  for (char ch : codePageText) AppendCharacter(out, Cp1252CodePoint(static_cast<unsigned char>(ch)));
  return out + "\"";
}

std::string JsonPath(std::string_view path) {
  std::string out = "\"";
  for (std::size_t at = 0; at < path.size();) {
    char32_t c = 0;
    at += NextCharacter(path, at, &c);
    AppendCharacter(out, c);
  }
  return out + "\"";
}

}  // namespace tl::cli
