// Files named on tideload-cli's command line, read so that Ctrl-C still
// ends the program: a FIFO whose writer has not come yet is waited on (a
// pipe such as <(cmd) is a fine password file), and Ctrl-C ends the wait.
#pragma once

#include <cstddef>
#include <string>

namespace tl::cli {

enum class InputRead { kRead, kFailed, kInterrupted };

// At most most + 1 bytes of the file, or of stdin for "-", into bytes; with
// oneLine no more once a line end came. kFailed with the reason in *error.
InputRead ReadInput(const char* path, std::size_t most, bool oneLine, std::string& bytes, std::string* error);

}  // namespace tl::cli
