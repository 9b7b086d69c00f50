#include "platform/console/console_terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tl {

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

std::pair<std::size_t, int> TerminalSize(std::FILE* stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return {80, 24};
  }
  return {size.ws_col, size.ws_row};
}

bool RedrawsInPlace(std::FILE* stream) { return IsTerminal(stream); }

void WriteToTerminal(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

}  // namespace tl
