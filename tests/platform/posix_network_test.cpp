// The POSIX sockets against a module played in the same process, over
// loopback.
#include "platform/posix/posix_network.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "platform/headless/event_loop.h"
#include "update/update_socket.h"

namespace tl {
namespace {

struct Recorder : ModuleLineSink {
  void HandleModuleMessage(int, const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

// A module's listener on a loopback address of its own, on the module port.
struct ModuleListener {
  ModuleListener() {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 50 && address == 0; ++attempt) {
      const std::uint32_t candidate = (127u << 24) | (91u << 16) | (random() & 0xFFFFu);
      fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_port = htons(UpdateSocket::kModulePort);
      sa.sin_addr.s_addr = htonl(candidate);
      if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && ::listen(fd, 4) == 0) {
        address = candidate;
      } else {
        ::close(fd);
        fd = -1;
      }
    }
  }
  ~ModuleListener() {
    if (fd >= 0) ::close(fd);
  }
  int fd = -1;
  std::uint32_t address = 0;
};

TEST(PosixTcp, LinesSentBeforeAResetAreDeliveredNotAConnectError) {
  ModuleListener listener;
  ASSERT_NE(listener.address, 0u);
  EventLoop loop(EventLoop::Clock::Real);
  PosixNetwork network(loop);
  const Host previous = CurrentHost();
  SetHost(Host{nullptr, &network, nullptr, nullptr});
  Recorder sink;
  {
    UpdateSocket update(sink, listener.address);
    ASSERT_TRUE(update.HasConnection());
    // The module accepts, sends its lines and resets the connection, all
    // before the program first looks at its socket.
    const int module = ::accept(listener.fd, nullptr, nullptr);
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
