#include "platform/console/console_text.h"

#include "platform/core/code_page.h"

namespace tl {

namespace {

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

void AppendEscape(std::string& out, char32_t c) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[(c >> 4) & 0x0F];
  out += kDigits[c & 0x0F];
}

}  // namespace

std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t* codePoint) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  char32_t c = 0, lowest = 0;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3F);
  }
  if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *codePoint = c;
  return length;
}

std::size_t NextCharacter(std::string_view text, std::size_t at, char32_t* codePoint) {
  if (const std::size_t length = DecodeUtf8(text, at, codePoint); length != 0) return length;
  *codePoint = static_cast<unsigned char>(text[at]);
  return 1;
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char32_t c = 0;
    const std::size_t length = NextCharacter(text, at, &c);  // a lone byte: maybe an 8-bit control
    if (IsControl(c)) {
      AppendEscape(out, c);
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

void WriteText(std::FILE* stream, std::string_view text) {
  if (IsTerminal(stream)) {
    WriteToTerminal(stream, EscapeControls(text));
  } else {
    std::fwrite(text.data(), 1, text.size(), stream);
  }
}

void WriteLine(std::FILE* stream, std::string_view text) {
  WriteText(stream, text);
  std::fputc('\n', stream);
}

std::string MessageLineText(std::string_view codePageText) {
  while (!codePageText.empty() && (codePageText.back() == '\n' || codePageText.back() == '\r')) {
    codePageText.remove_suffix(1);
  }
  return Cp1252ToUtf8(codePageText);
}

void WriteMessageLine(std::FILE* stream, std::string_view codePageText) {
  WriteLine(stream, MessageLineText(codePageText));
  std::fflush(stream);
}

}  // namespace tl
