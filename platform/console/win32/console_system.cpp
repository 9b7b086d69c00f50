#include "platform/console/console_system.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/utf16.h"

namespace tl {

ConsoleArguments::ConsoleArguments(int argc, char** argv) {
  // main's arguments are in the ANSI code page; the command line is UTF-16.
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) texts_.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
  } else {
    texts_.assign(argv, argv + argc);
  }
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
}

std::optional<std::string> EnvironmentText(const char* name) {
  const std::wstring wideName = Utf8ToWide(name);
  std::wstring value(64, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    if (n < value.size()) {
      value.resize(n);
      return WideToUtf8(value);
    }
    value.resize(n);  // the room it needs
  }
}

int LastSystemError() { return static_cast<int>(GetLastError()); }

std::string SystemErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string said = n > 0 ? WideToUtf8(std::wstring_view(text, n)) : "system error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' ' || said.back() == '.')) {
    said.pop_back();
  }
  return said;
}

}  // namespace tl
