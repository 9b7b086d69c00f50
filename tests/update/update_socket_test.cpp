// Line assembly of the update connection, seen through a sink that records
// every line it is handed.
#include "update/update_socket.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_host.h"

namespace tl {
namespace {

using Lines = std::vector<std::pair<int, std::string>>;

struct Recorder : ModuleLineSink {
  void OnModuleLine(int code, const std::string& text) override {
    lines.emplace_back(code, text);
    if (onLine) onLine(text);
  }
  void OnConnectFailed() override {}
  void OnReceiveFailed() override {}
  void OnClosedByModule() override {}
  Lines lines;
  std::function<void(const std::string&)> onLine;
};

struct Connection {
  test::TestHost host;
  Recorder sink;
  UpdateSocket socket{sink, &host.net, 0x0A000001};
  test::FakeTcpSocket& peer = *host.net.LastTcp();
};

TEST(UpdateSocketLines, OverLongLinesAreCutAndTheNextLineIsWhole) {
  const std::string longest = "250 " + std::string(250, 'a');  // 254: kept whole
  const std::string tooLong = "250 " + std::string(251, 'b');  // 255 + CR LF: cut
  const std::string veryLong = "250 " + std::string(5000, 'c') + "\r" + std::string(10, 'c');
  Connection c;
  c.peer.Deliver(longest + "\r\n");
  c.peer.Deliver(tooLong + "\r\n");
  c.peer.Deliver(veryLong.substr(0, 3000));
  c.peer.Deliver(veryLong.substr(3000) + "\r\n250 next\r\n");
  EXPECT_EQ(c.sink.lines, (Lines{{250, longest},
                                 {250, "250 " + std::string(250, 'b')},
                                 {250, "250 " + std::string(250, 'c')},
                                 {250, "250 next"}}));
}

TEST(UpdateSocketLines, AHandlerThatReadsAgainKeepsTheOrder) {
  // The first line's handler runs a nested loop that gets read readiness
  // again while the rest of the first read is still to be cut.
  Connection c;
  bool nested = false;
  c.sink.onLine = [&](const std::string&) {
    if (nested) return;
    nested = true;
    c.peer.Deliver("103 c\r\n");
  };
  c.peer.Deliver("100 a\r\n102 b\r\n");
  EXPECT_EQ(c.sink.lines, (Lines{{100, "100 a"}, {102, "102 b"}, {103, "103 c"}}));
}

TEST(UpdateSocketLines, OneReadinessEventReadsABoundedAmount) {
  // A module that never stops sending must give the loop its turn back.
  const std::string line = "301\r\n";
  std::string flood;
  while (flood.size() < 3 * UpdateSocket::kMostBytesPerEvent) flood += line;
  Connection c;
  c.peer.Deliver(flood);
  const std::size_t perEvent = UpdateSocket::kMostBytesPerEvent / line.size();
  EXPECT_LE(c.sink.lines.size(), perEvent + 1);
  EXPECT_GE(c.sink.lines.size(), perEvent - 1);
  EXPECT_FALSE(c.peer.inbound.empty());
  while (!c.peer.inbound.empty()) c.socket.OnReceive(0);
  EXPECT_EQ(c.sink.lines.size(), flood.size() / line.size());
}

}  // namespace
}  // namespace tl
