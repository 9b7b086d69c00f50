// FindDialog on the virtual clock and its socket.
#include <gtest/gtest.h>

#include "tests/discovery/find_fixture.h"

namespace tl::test {
namespace {

class FindDialogTest : public FindFixture {};

TEST_F(FindDialogTest, SearchThenThreeHeardListsAndSearchAgainState) {
  Run([&] {
    FakeUdpSocket& udp = Udp();
    EXPECT_EQ(udp.localPort, 20034);
    EXPECT_TRUE(udp.broadcast);
    ASSERT_EQ(udp.sent.size(), 1u);
    EXPECT_EQ(udp.sent[0].bytes.substr(0, 5), "ELINR");
    EXPECT_EQ(udp.sent[0].address, 0xFFFFFFFFu);
    EXPECT_EQ(udp.sent[0].port, 20034);
    EXPECT_EQ(udp.sent[0].interface, 0u);  // wherever the routing table sends it
    EXPECT_FALSE(window->IsControlEnabled(kIdSearchAgain));
    const std::uint64_t start = host.loop.NowMs();
    for (int tick = 1; tick <= 3; ++tick) {
      EXPECT_FALSE(window->IsControlEnabled(kIdSearchAgain));
      host.loop.RunOnce();
      EXPECT_EQ(host.loop.NowMs() - start, 1500u * tick);
      ASSERT_EQ(udp.sent.size(), 1u + tick);
      EXPECT_EQ(udp.sent.back().bytes, std::string("ELI2V\0\0\0\0\0", 10));
      EXPECT_EQ(udp.sent.back().address, 0xFFFFFFFFu);
    }
    EXPECT_TRUE(window->IsControlEnabled(kIdSearchAgain));
    EXPECT_TRUE(window->RunningTimers().empty());
    // Late replies still count.
    Udp().Deliver(ModuleReply{}.Bytes(), Ip(10, 0, 0, 5));
    EXPECT_NE(dialog->deviceList(), nullptr);

    window->Press(kIdSearchAgain);
    EXPECT_EQ(udp.sent.back().bytes.substr(0, 5), "ELINR");
    EXPECT_FALSE(window->IsControlEnabled(kIdSearchAgain));
    EXPECT_EQ(window->RunningTimers(), std::vector<unsigned>{1});
    EXPECT_EQ(dialog->SearchTicks(), 0);
  });
}

TEST_F(FindDialogTest, RequestAndHeardListsGoToEveryDestinationInTurn) {
  FindDialog d(nullptr);
  d.SetSearchDestinations({{kBroadcastAddress, 2}, {kBroadcastAddress, 3}, {Ip(10, 1, 2, 255), 0}});
  Run([&] {
    host.loop.RunOnce();
    struct Sent {
      const char* start;
      std::uint32_t address;
      unsigned via;
    };
    const Sent want[] = {{"ELINR", kBroadcastAddress, 2}, {"ELINR", kBroadcastAddress, 3},
                         {"ELINR", Ip(10, 1, 2, 255), 0}, {"ELI2V", kBroadcastAddress, 2},
                         {"ELI2V", kBroadcastAddress, 3}, {"ELI2V", Ip(10, 1, 2, 255), 0}};
    const std::vector<FakeUdpSocket::Datagram>& sent = Udp().sent;
    ASSERT_EQ(sent.size(), std::size(want));
    for (std::size_t i = 0; i < sent.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(sent[i].bytes.substr(0, 5), want[i].start);
      EXPECT_EQ(sent[i].address, want[i].address);
      EXPECT_EQ(sent[i].port, kDiscoveryPort);
      EXPECT_EQ(sent[i].interface, want[i].via);
    }
  }, &d);
}

TEST_F(FindDialogTest, OkWithoutSelectionStaysOpenThenOkReturnsAddress) {
  FindDialog d(nullptr);
  int result = Run([&] {
    host.loop.RunOnce();
    window->Press(kIdOk);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"You must first select a device in the\nSelect a Unit in the tree."});
    EXPECT_FALSE(window->Ended());
    EXPECT_EQ(window->RunningTimers(), std::vector<unsigned>{1});
    EXPECT_EQ(dialog->SearchTicks(), 1);
    ModuleReply m;
    m.marker = true;
    m.currentAddress = Ip(192, 168, 1, 20);
    Send(m, Ip(192, 168, 1, 99));  // inconsistent: its reported address is taken
    window->Press(kIdOk);
  }, &d);
  EXPECT_EQ(result, kResultOk);
  EXPECT_EQ(d.selectedAddress, 0xC0A80114u);
}

TEST_F(FindDialogTest, PortFallbackAndBindFailure) {
  host.net.takenPorts.insert(20034);
  Run([&] {
    EXPECT_EQ(Udp().localPort, 20035);
    EXPECT_EQ(Udp().sent.at(0).port, 20034);
  });
  EXPECT_TRUE(host.Messages().empty());

  host.net.takenPorts.insert(20035);
  Run([&] {
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Unable to Bind socket, is Tideload already open?"});
    EXPECT_FALSE(dialog->Socket()->IsOpen());
    for (int i = 0; i < 3; ++i) host.loop.RunOnce();  // the schedule runs on
    EXPECT_TRUE(window->IsControlEnabled(kIdSearchAgain));
  });

  host.ui.ClearMessages();
  host.net.takenPorts.clear();
  host.net.udpBroadcastAllowed = false;
  Run([&] {
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Unable to Bind socket, is Tideload already open?"});
    EXPECT_FALSE(dialog->Socket()->IsOpen());
  });
  EXPECT_TRUE(host.net.takenPorts.empty());  // the failed socket was closed
}

TEST_F(FindDialogTest, OversizedAndForeignDatagramsIgnored) {
  Run([&] {
    Udp().Deliver(ModuleReply{}.Bytes() + std::string(1024, 'x'), Ip(10, 0, 0, 1));  // > 1024
    Udp().Deliver(Udp().sent[0].bytes, Ip(10, 0, 0, 1));  // our own search request
    Udp().Deliver(ModuleReply{}.Bytes().substr(0, 100), Ip(10, 0, 0, 1));
    EXPECT_EQ(dialog->deviceList(), nullptr);
    std::string exact = ModuleReply{}.Bytes();
    exact.resize(1024, 'x');
    Udp().Deliver(exact, Ip(10, 0, 0, 1));
    EXPECT_NE(dialog->deviceList(), nullptr);
  });
}

TEST_F(FindDialogTest, RecordsAndSocketReleasedWithTheDialog) {
  const std::size_t before = DeviceRecord::LiveCount();
  {
    FindDialog d(nullptr);
    Run([&] {
      Send(ModuleReply{}.Device(1).Mac(0, 1), 1);
      Send(ModuleReply{}.Device(1).Mac(0, 2), 2);
      Send(ModuleReply{}.Mac(0, 3), 3);
      EXPECT_EQ(DeviceRecord::LiveCount(), before + 4);
    }, &d);
    // After the window closed a late reply only reaches the list.
    ASSERT_NE(host.net.LastUdp(), nullptr);
    host.net.LastUdp()->Deliver(ModuleReply{}.Mac(0, 4).Bytes(), 4);
    EXPECT_EQ(DeviceRecord::LiveCount(), before + 5);
  }
  EXPECT_EQ(DeviceRecord::LiveCount(), before);
  EXPECT_EQ(host.net.LastUdp(), nullptr);
  EXPECT_TRUE(host.net.takenPorts.empty());
}

}  // namespace
}  // namespace tl::test
