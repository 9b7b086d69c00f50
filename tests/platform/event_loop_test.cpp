#include "platform/headless/event_loop.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <vector>

namespace tl {
namespace {

TEST(EventLoop, VirtualClockFiresTimersInOrderAndJumpsTime) {
  EventLoop loop(EventLoop::Clock::Virtual);
  std::vector<int> fired;
  loop.Post(300, [&] { fired.push_back(3); });
  loop.Post(100, [&] { fired.push_back(1); });
  std::uint64_t periodic = loop.AddTimer(150, 150, [&] { fired.push_back(2); });
  while (loop.NowMs() < 450 && loop.RunOnce()) {
  }
  loop.RemoveTimer(periodic);
  while (loop.RunOnce()) {
  }
  EXPECT_EQ(fired, (std::vector<int>{1, 2, 3, 2, 2}));
  EXPECT_FALSE(loop.RunOnce());  // nothing left: stuck, not spinning
}

TEST(EventLoop, DueTimersFireWhileADescriptorStaysReady) {
  // A pipe that is never drained is ready on every turn.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  EventLoop loop(EventLoop::Clock::Real);
  int readyTurns = 0;
  loop.Watch(fds[0], true, false, [&](bool, bool) { ++readyTurns; });
  bool fired = false;
  loop.Post(20, [&] { fired = true; });
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fired && std::chrono::steady_clock::now() < giveUp) loop.RunOnce();
  EXPECT_TRUE(fired);
  EXPECT_GT(readyTurns, 0);
  loop.Unwatch(fds[0]);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace tl
