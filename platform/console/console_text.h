// Text on the console. What reaches a terminal never carries a control
// character from outside: C0, DEL and C1 are written as \xHH. Into a pipe or
// a file the bytes go as they are.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/console/console_terminal.h"

namespace tl {

// Length of the valid UTF-8 sequence at text[at] (shortest form, no
// surrogates, at most U+10FFFF) and its code point; 0 when none starts there.
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t* codePoint);
// The character at text[at] of a text that is UTF-8 where it can be (a
// path's own bytes): its length, at least 1; a byte that starts no valid
// sequence is taken alone, as the Latin-1 character.
std::size_t NextCharacter(std::string_view text, std::size_t at, char32_t* codePoint);

// The UTF-8 text with every control character as \xHH (C1 by its code
// point). A byte that starts no valid UTF-8 sequence is taken alone.
std::string EscapeControls(std::string_view text);

// Writes text, escaped when the stream is a terminal.
void WriteText(std::FILE* stream, std::string_view text);
// The same, then our own line end.
void WriteLine(std::FILE* stream, std::string_view text);

// A message box text: a code-page text (module texts among it) as one line
// of UTF-8. Its trailing line ends are the program's own and give way to one.
std::string MessageLineText(std::string_view codePageText);
void WriteMessageLine(std::FILE* stream, std::string_view codePageText);

}  // namespace tl
