#include "platform/headless/event_loop.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tl
