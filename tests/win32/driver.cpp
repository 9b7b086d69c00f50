// Drives the Windows program's windows from outside, as the Wine tests'
// user: finds a dialog by its caption through the Windows API.
//   driver wait CAPTION [SECONDS]   until the dialog is shown; prints its
//                                   window rectangle "left top right bottom"
//   driver close CAPTION            the close box (WM_CLOSE)
// Exit status 0, or 1 when there is no such dialog (in time), 2 on usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kDialogClass[] = "#32770";
constexpr DWORD kPollMs = 50;

HWND FindDialog(const char* caption) {
  HWND window = FindWindowA(kDialogClass, caption);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

int Wait(const char* caption, double seconds) {
  const DWORD start = GetTickCount();
  const auto limit = static_cast<DWORD>(seconds * 1000);
  for (;;) {
    if (HWND window = FindDialog(caption)) {
      RECT r;
      GetWindowRect(window, &r);
      std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
      return 0;
    }
    if (GetTickCount() - start >= limit) break;
    Sleep(kPollMs);
  }
  std::fprintf(stderr, "driver: no dialog \"%s\" within %.0f s\n", caption, seconds);
  return 1;
}

int Close(const char* caption) {
  HWND window = FindDialog(caption);
  if (window == nullptr) {
    std::fprintf(stderr, "driver: no dialog \"%s\"\n", caption);
    return 1;
  }
  PostMessageA(window, WM_CLOSE, 0, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "wait") == 0) {
    return Wait(argv[2], argc >= 4 ? std::atof(argv[3]) : 30.0);
  }
  if (argc == 3 && std::strcmp(argv[1], "close") == 0) return Close(argv[2]);
  std::fputs("usage: driver wait CAPTION [SECONDS] | driver close CAPTION\n", stderr);
  return 2;
}
