#include "cli/json.h"

#include "platform/core/code_page.h"

namespace tl::cli {

std::string JsonString(std::string_view codePageText) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : codePageText) {
    const char32_t c = Cp1252CodePoint(static_cast<unsigned char>(ch));
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c >= 0x20 && c < 0x7F) {
      out += ch;
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 0x0F];
    }
  }
  return out + "\"";
}

}  // namespace tl::cli
