#include "platform/headless/event_loop.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/headless/readiness.h"

namespace tl {

namespace {
std::int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

EventLoop::EventLoop(Clock clock) : clock_(clock), realStartNs_(MonotonicNs()) {}

EventLoop::~EventLoop() = default;

std::uint64_t EventLoop::NowMs() const {
  if (clock_ == Clock::Virtual) return virtualNow_;
  return static_cast<std::uint64_t>((MonotonicNs() - realStartNs_) / 1000000);
}

std::uint64_t EventLoop::AddTimer(std::uint64_t delayMs, std::uint64_t periodMs,
                                  std::function<void()> fn) {
  std::uint64_t handle = nextHandle_++;
  timers_[handle] = Timer{NowMs() + delayMs, periodMs, std::move(fn)};
  return handle;
}

void EventLoop::RemoveTimer(std::uint64_t handle) { timers_.erase(handle); }

void EventLoop::Watch(int fd, bool wantRead, bool wantWrite, Callback callback) {
  watchers_[fd] = Watcher{wantRead, wantWrite, std::make_shared<Callback>(std::move(callback))};
}

void EventLoop::Unwatch(int fd) { watchers_.erase(fd); }

bool EventLoop::FireDueTimers() {
  // The timers due now, earliest first, ties to the older handle. Each fires
  // once per turn: one that a callback adds or makes due waits for the next.
  const std::uint64_t now = NowMs();
  std::vector<std::pair<std::uint64_t, std::uint64_t>> due;  // (due, handle)
  for (const auto& [handle, timer] : timers_) {
    if (timer.due <= now) due.emplace_back(timer.due, handle);
  }
  std::sort(due.begin(), due.end());
  bool fired = false;
  for (const auto& [when, handle] : due) {
    auto it = timers_.find(handle);
    // Removed, or restarted by an earlier callback of this turn.
    if (it == timers_.end() || it->second.due != when) continue;
    std::function<void()> fn = it->second.fn;
    if (it->second.period > 0) {
      // Rescheduled before it runs, so that nested loops inside see it.
      std::uint64_t next = when + it->second.period;
      if (next <= NowMs()) next = NowMs() + it->second.period;  // no burst after a stall
      it->second.due = next;
    } else {
      timers_.erase(it);
    }
    fn();
    fired = true;
  }
  return fired;
}

bool EventLoop::RunOnce(int maxWaitMs) {
  std::uint64_t now = NowMs();
  std::uint64_t nextDue = UINT64_MAX;
  for (const auto& [handle, timer] : timers_) nextDue = std::min(nextDue, timer.due);

  int timeout = 0;
  if (clock_ == Clock::Real) {
    if (nextDue == UINT64_MAX) {
      timeout = maxWaitMs;
    } else if (nextDue > now) {
      timeout = static_cast<int>(std::min<std::uint64_t>(nextDue - now, static_cast<std::uint64_t>(maxWaitMs)));
    }
  }

  bool dispatched = false;
  if (!watchers_.empty() || clock_ == Clock::Real) {
    std::vector<Readiness> ready;
    ready.reserve(watchers_.size());
    for (const auto& [fd, w] : watchers_) ready.push_back(Readiness{fd, w.read, w.write});
    WaitReady(ready, timeout);
    for (const Readiness& r : ready) {
      auto it = watchers_.find(r.descriptor);
      if (it == watchers_.end()) continue;  // removed by an earlier callback
      std::shared_ptr<Callback> cb = it->second.callback;
      bool readable = r.read && it->second.read;
      bool writable = r.write && it->second.write;
      if (!readable && !writable) continue;
      (*cb)(readable, writable);
    }
    dispatched = !ready.empty();
  }

  // Due timers fire on every turn, also while descriptors keep the loop busy.
  if (FireDueTimers() || dispatched) return true;
  if (clock_ == Clock::Virtual) {
    if (nextDue == UINT64_MAX) return false;
    if (nextDue > virtualNow_) virtualNow_ = nextDue;
    FireDueTimers();
  }
  return true;
}

}  // namespace tl
