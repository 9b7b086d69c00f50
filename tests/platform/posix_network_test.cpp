// The POSIX sockets against a module played in the same process, over
// loopback.
#include "platform/posix/posix_network.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/headless/event_loop.h"
#include "tests/support/module_listener.h"
#include "update/update_socket.h"

namespace tl {
namespace {

struct Recorder : ModuleLineSink {
  void OnModuleLine(int, const std::string& text) override { lines.push_back(text); }
  void OnConnectFailed() override { lines.push_back("connect failed"); }
  void OnReceiveFailed() override { lines.push_back("receive failed"); }
  void OnClosedByModule() override { closed = true; }
  std::vector<std::string> lines;
  bool closed = false;
};

TEST(PosixTcp, LinesSentBeforeAResetAreDeliveredNotAConnectError) {
  test::ModuleListener listener;
  ASSERT_NE(listener.Address(), 0u);
  EventLoop loop(EventLoop::Clock::Real);
  PosixNetwork network(loop);
  Recorder sink;
  {
    UpdateSocket update(sink, &network, listener.Address());
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
      return sink.closed || (!sink.lines.empty() && sink.lines.back().find("failed") != std::string::npos);
    };
    while (!settled() && std::chrono::steady_clock::now() < giveUp) loop.RunOnce(100);
  }
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"100 x:RT40:y", "250 Going away"}));
  EXPECT_TRUE(sink.closed);
}

struct Readable : SocketEvents {
  void OnReceive(int) override { ready = true; }
  bool ready = false;
};

TEST(PosixUdp, SendsOutOfANamedInterfaceAndSaysWhereADatagramArrived) {
  EventLoop loop(EventLoop::Clock::Real);
  PosixNetwork network(loop);
  const std::vector<NetworkInterface> all = network.Interfaces();
  auto lo = std::find_if(all.begin(), all.end(), [](const NetworkInterface& i) { return i.address == 0x7F000001u; });
  ASSERT_NE(lo, all.end());
  EXPECT_NE(lo->id, 0u);
  EXPECT_TRUE(lo->up);
  EXPECT_FALSE(lo->canBroadcast);

  // A port nobody holds: the system's pick for a socket closed at once.
  const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  socklen_t len = sizeof sa;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(probe);
  Readable events;
  std::unique_ptr<UdpSocket> udp = network.OpenUdp(ntohs(sa.sin_port), events);
  ASSERT_NE(udp, nullptr);
  ASSERT_EQ(udp->SendToVia(lo->id, "hi", 2, 0x7F000001u, ntohs(sa.sin_port)), 2);
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!events.ready && std::chrono::steady_clock::now() < giveUp) loop.RunOnce(100);
  char buffer[8];
  std::uint32_t from = 0;
  unsigned arrivedOn = 0;
  EXPECT_EQ(udp->ReceiveFromOn(buffer, sizeof buffer, &from, nullptr, &arrivedOn), 2);
  EXPECT_EQ(from, 0x7F000001u);
  EXPECT_EQ(arrivedOn, lo->id);
}

}  // namespace
}  // namespace tl
