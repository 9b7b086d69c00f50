// A single-threaded event loop with timers and file-descriptor readiness,
// on a real or a virtual clock. Nested loops call RunOnce themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "platform/core/reactor.h"

namespace tl {

class EventLoop : public Reactor {
 public:
  enum class Clock { Real, Virtual };
  explicit EventLoop(Clock clock);
  ~EventLoop() override;

  // Milliseconds since the loop was made.
  std::uint64_t NowMs() const;

  // Repeating when periodMs > 0 and repeat is set; returns a handle (> 0).
  std::uint64_t AddTimer(std::uint64_t delayMs, std::uint64_t periodMs, std::function<void()> fn);
  void RemoveTimer(std::uint64_t handle);
  // A one-shot action after delayMs.
  std::uint64_t Post(std::uint64_t delayMs, std::function<void()> fn) {
    return AddTimer(delayMs, 0, std::move(fn));
  }

  void Watch(int fd, bool wantRead, bool wantWrite, Callback callback) override;
  void Unwatch(int fd) override;

  // One turn: waits on the real clock at most maxWaitMs for the next timer or
  // descriptor, dispatches the ready descriptors, then fires the timers that
  // are due. On the virtual clock, when nothing is ready, time jumps to the
  // next timer. Returns false when nothing can
  // ever happen (virtual clock, no timers, no descriptors).
  bool RunOnce(int maxWaitMs = 1000);

 private:
  struct Timer {
    std::uint64_t due;
    std::uint64_t period;
    std::function<void()> fn;
  };
  struct Watcher {
    bool read;
    bool write;
    std::shared_ptr<Callback> callback;
  };
  bool FireDueTimers();

  Clock clock_;
  std::uint64_t virtualNow_ = 0;
  std::int64_t realStartNs_ = 0;
  std::uint64_t nextHandle_ = 1;
  std::map<std::uint64_t, Timer> timers_;
  std::map<int, Watcher> watchers_;
};

}  // namespace tl
