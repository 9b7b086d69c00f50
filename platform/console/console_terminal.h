// The terminal (on Windows, the console) behind a standard stream: the
// system's part of the console's text.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <utility>

namespace tl {

bool IsTerminal(std::FILE* stream);

// The terminal's columns and lines; 80 and 24 when it cannot tell.
std::pair<std::size_t, int> TerminalSize(std::FILE* stream);

// Whether lines already written can be drawn again in place: a terminal
// that takes the cursor movements of ECMA-48 (on Windows, a console that
// takes its virtual terminal sequences).
bool RedrawsInPlace(std::FILE* stream);

// UTF-8 text to the terminal, shown as the characters it encodes.
void WriteToTerminal(std::FILE* stream, std::string_view text);

}  // namespace tl
