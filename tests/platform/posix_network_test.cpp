// The POSIX sockets against a module played in the same process, over
// loopback.
#include "platform/posix/posix_network.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/headless/event_loop.h"
#include "tests/support/module_listener.h"
#include "update/update_socket.h"

namespace tl {
namespace {

struct Recorder : ModuleLineSink {
  void HandleModuleMessage(int, const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

TEST(PosixTcp, LinesSentBeforeAResetAreDeliveredNotAConnectError) {
  test::ModuleListener listener;
  ASSERT_NE(listener.Address(), 0u);
  EventLoop loop(EventLoop::Clock::Real);
  PosixNetwork network(loop);
  const Host previous = CurrentHost();
  SetHost(Host{nullptr, &network, nullptr, nullptr});
  Recorder sink;
  {
    UpdateSocket update(sink, listener.Address());
    ASSERT_TRUE(update.HasConnection());
    // The module accepts, sends its lines and resets the connection, all
    // before the program first looks at its socket.
    const int module = ::accept(listener.Fd(), nullptr, nullptr);
    ASSERT_GE(module, 0);
    const std::string lines = "100 x:RT40:y\r\n250 Going away\r\n";
    ASSERT_EQ(::send(module, lines.data(), lines.size(), 0), static_cast<ssize_t>(lines.size()));
    const linger reset{1, 0};
    ::setsockopt(module, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(module);

    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto settled = [&] {
      return sink.lines.size() >= 2 || (!sink.lines.empty() && sink.lines.back().rfind("299", 0) == 0);
    };
    while (!settled() && std::chrono::steady_clock::now() < giveUp) loop.RunOnce(100);
  }
  SetHost(previous);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"100 x:RT40:y", "250 Going away"}));
}

}  // namespace
}  // namespace tl
