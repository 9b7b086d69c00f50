#include "platform/console/console_terminal.h"

#include <windows.h>
#include <io.h>

#include <cstdlib>

#include "platform/win32/utf16.h"

namespace tl {

namespace {

HANDLE HandleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

// The console's mode before this program turned its virtual terminal
// sequences on, given back when the program ends.
HANDLE g_turnedOn = nullptr;
DWORD g_modeBefore = 0;

void TurnBack() { SetConsoleMode(g_turnedOn, g_modeBefore); }

}  // namespace

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

std::pair<std::size_t, int> TerminalSize(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(HandleOf(stream), &info) == 0) return {80, 24};
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  const int lines = info.srWindow.Bottom - info.srWindow.Top + 1;
  if (columns <= 0 || lines <= 0) return {80, 24};
  return {static_cast<std::size_t>(columns), lines};
}

bool RedrawsInPlace(std::FILE* stream) {
  const HANDLE console = HandleOf(stream);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode) == 0) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  // Consoles before Windows 10 refuse the mode: plain lines there.
  if (g_turnedOn != nullptr || SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0) return false;
  g_turnedOn = console;
  g_modeBefore = mode;
  std::atexit(TurnBack);
  return true;
}

void WriteToTerminal(std::FILE* stream, std::string_view text) {
  // The console shows UTF-16 whatever its code page.
  std::fflush(stream);
  const std::wstring wide = Utf8ToWide(text);
  DWORD written = 0;
  if (WriteConsoleW(HandleOf(stream), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) == 0) {
    std::fwrite(text.data(), 1, text.size(), stream);
  }
}

}  // namespace tl
