// Ctrl-C as an event of the console's loop. The signal handler only writes
// a byte to a pipe that the loop watches; what is to be done runs on the
// loop, like every other event.
#pragma once

#include <signal.h>

#include <functional>

#include "platform/headless/event_loop.h"

namespace tl {

class ConsoleInterrupt {
 public:
  // From now until destruction SIGINT calls onInterrupt (once) on the loop.
  ConsoleInterrupt(EventLoop& loop, std::function<void()> onInterrupt);
  ~ConsoleInterrupt();  // SIGINT is handled as before
  ConsoleInterrupt(const ConsoleInterrupt&) = delete;
  ConsoleInterrupt& operator=(const ConsoleInterrupt&) = delete;

 private:
  void OnReadable();

  EventLoop& loop_;
  std::function<void()> onInterrupt_;
  int pipe_[2] = {-1, -1};
  struct sigaction previous_ {};
  bool interrupted_ = false;
};

}  // namespace tl
