// Files named on a console program's command line (UTF-8 paths). Reads
// never hold the program past Ctrl-C: a FIFO or pipe whose writer has not
// come yet is waited on (a pipe such as <(cmd) is a fine password file), and
// Ctrl-C ends the wait.
#pragma once

#include <cstddef>
#include <string>

namespace tl {

enum class InputRead { kRead, kFailed, kInterrupted };

// At most most + 1 bytes of the file, or of stdin for "-", into bytes; with
// oneLine no more once a line end came. kFailed with the reason in *error.
InputRead ReadInput(const char* path, std::size_t most, bool oneLine, std::string& bytes, std::string* error);

// Makes or replaces the file with length bytes in one write; false with the
// system's reason in *error.
bool WriteWholeFile(const char* path, const unsigned char* data, std::size_t length, std::string* error);

}  // namespace tl
