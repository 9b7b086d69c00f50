// Texts from modules and from S-record files are 8-bit characters in one
// single-byte code page, Windows-1252; the five bytes it leaves undefined
// are taken as Latin-1. Every host decodes them with these, so that a text
// reads the same in the tree, on a terminal and in JSON.
#pragma once

#include <string>
#include <string_view>

namespace tl {

char32_t Cp1252CodePoint(unsigned char byte);

// One code point (up to U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// The text as UTF-8, one character per byte.
std::string Cp1252ToUtf8(std::string_view text);

}  // namespace tl
