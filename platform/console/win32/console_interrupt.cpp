#include "platform/console/console_interrupt.h"

#include <windows.h>

#include <mutex>

#include "platform/console/win32/loop_waker.h"

namespace tl {

namespace {

// The system runs control handlers on a thread of their own.
std::mutex g_mutex;
LoopWaker* g_waker = nullptr;

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;  // closing, logging off
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_waker == nullptr) return FALSE;
  g_waker->Wake();
  return TRUE;
}

}  // namespace

// The control handler only wakes the loop.
struct ConsoleInterrupt::Handler {
  explicit Handler(EventLoop& loop, std::function<void()> onWake) : waker(loop, std::move(onWake)) {}
  LoopWaker waker;
};

ConsoleInterrupt::ConsoleInterrupt(EventLoop& loop, std::function<void()> onInterrupt)
    : loop_(loop), onInterrupt_(std::move(onInterrupt)),
      handler_(std::make_unique<Handler>(loop, [this] { OnInterrupt(); })) {
  if (!handler_->waker.Works()) return;  // Ctrl-C ends the program, as before
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_waker = &handler_->waker;
  }
  SetConsoleCtrlHandler(OnControl, TRUE);
}

ConsoleInterrupt::~ConsoleInterrupt() {
  SetConsoleCtrlHandler(OnControl, FALSE);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_waker = nullptr;
}

}  // namespace tl
