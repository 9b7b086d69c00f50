// Ctrl-C (on Windows Ctrl-Break too) as an event of the console's loop. The
// system's handler only wakes the loop; what is to be done runs on the
// loop, like every other event.
#pragma once

#include <functional>
#include <memory>

#include "platform/headless/event_loop.h"

namespace tl {

class ConsoleInterrupt {
 public:
  // From now until destruction Ctrl-C calls onInterrupt (once) on the loop.
  ConsoleInterrupt(EventLoop& loop, std::function<void()> onInterrupt);
  ~ConsoleInterrupt();  // Ctrl-C is handled as before
  ConsoleInterrupt(const ConsoleInterrupt&) = delete;
  ConsoleInterrupt& operator=(const ConsoleInterrupt&) = delete;

 private:
  struct Handler;  // the system's
  void OnInterrupt();

  EventLoop& loop_;
  std::function<void()> onInterrupt_;
  std::unique_ptr<Handler> handler_;
  bool interrupted_ = false;
};

}  // namespace tl
