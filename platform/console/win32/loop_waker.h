// Wakes the console's loop from another thread (a console control handler,
// a reader): a UDP socket on loopback sends itself a byte, which ends the
// loop's select(); what was asked for then runs on the loop.
#pragma once

#include <winsock2.h>

#include <functional>

#include "platform/headless/event_loop.h"

namespace tl {

class LoopWaker {
 public:
  LoopWaker(EventLoop& loop, std::function<void()> onWake);
  ~LoopWaker();
  LoopWaker(const LoopWaker&) = delete;
  LoopWaker& operator=(const LoopWaker&) = delete;

  // Whether the socket could be made: without it nothing wakes the loop.
  bool Works() const { return socket_ != INVALID_SOCKET; }
  // From any thread: onWake runs on the loop soon after. Wakes that come
  // before it ran may make one run.
  void Wake();

 private:
  EventLoop& loop_;
  std::function<void()> onWake_;
  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace tl
