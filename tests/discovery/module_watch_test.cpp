// Searching known modules before an update and after their reboot: which
// answers count, on the fake network and a clock the test moves.
#include "discovery/module_watch.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/discovery/reply_builder.h"
#include "tests/support/test_host.h"

namespace tl {
namespace {

using test::Ip;
using test::ModuleReply;

constexpr std::uint32_t kModule = Ip(10, 0, 1, 5);

struct Watch {
  Watch() : watch(&host.net, [this] { return now; }) {}
  test::FakeUdpSocket& Socket() { return *host.net.LastUdp(); }
  // The module's answer from its own address and port, unless told otherwise.
  void Answer(const ModuleReply& reply, std::uint32_t from = kModule, std::uint16_t port = kDiscoveryPort) {
    Socket().Deliver(reply.Bytes(), from, port);
  }
  // The rest of a round passes: each module is searched again.
  void NextRound() {
    now += ModuleWatch::kRoundMs;
    watch.Tick();
  }
  const ModuleWatch::State& State() { return *watch.Find(kModule); }

  std::uint64_t now = 5000;
  test::TestHost host;
  ModuleWatch watch;
};

ModuleIdentity Before() {
  ModuleReply old;
  old.name = "Pump-1";
  old.app = "Valve 2.1";
  return {old.interfaceMac, old.name, old.app};
}

TEST(ModuleWatch, SearchesTheModuleItselfFromAPortOfTheSystemsChoosing) {
  Watch w;
  ASSERT_TRUE(w.watch.IsOpen());
  EXPECT_EQ(w.Socket().localPort, 0);
  w.watch.Identify(kModule);
  ASSERT_EQ(w.Socket().sent.size(), 1u);
  EXPECT_EQ(w.Socket().sent[0].address, kModule);
  EXPECT_EQ(w.Socket().sent[0].port, kDiscoveryPort);
  EXPECT_FALSE(w.Socket().broadcast);
  ModuleReply reply;
  reply.name = "Pump-1";
  reply.app = "Valve 2.1";
  w.now += 40;
  w.Answer(reply);
  ASSERT_TRUE(w.State().seen);
  EXPECT_EQ(*w.State().seen, Before());
  EXPECT_EQ(w.State().seenMs, 5040u);
  w.NextRound();
  EXPECT_EQ(w.Socket().sent.size(), 1u);  // answered: no more searches
}

TEST(ModuleWatch, OnlyTheModulesOwnAnswerAfterItsRebootCounts) {
  ModuleReply same;
  same.name = "Pump-1";
  same.app = "Valve 2.1";
  ModuleReply updated = same;
  updated.app = "Valve 2.2";
  ModuleReply stranger = updated;
  stranger.name = "Other";
  stranger.Mac(0x77, 0x77);
  ModuleReply claims = updated;  // from elsewhere, naming the module's address
  claims.marker = true;
  claims.currentAddress = kModule;
  std::string suffixed = updated.Bytes();  // as replies to 127.0.0.1 carry the real address
  for (int shift = 24; shift >= 0; shift -= 8) suffixed += static_cast<char>((kModule >> shift) & 0xFF);

  struct Case {
    const char* what;
    std::function<void(Watch&)> after;  // answers after the reboot choice
    bool back;
  };
  const Case cases[] = {
      {"another application at once", [&](Watch& w) { w.Answer(updated); }, true},
      {"silent for a round, then the same application",
       [&](Watch& w) {
         w.NextRound();
         w.NextRound();
         w.Answer(same);
       },
       true},
      {"its old self, answering every round before it resets",
       [&](Watch& w) {
         for (int i = 0; i < 5; ++i) {
           w.Answer(same);
           w.NextRound();
         }
       },
       false},
      {"another device at its address", [&](Watch& w) { w.Answer(stranger); }, false},
      {"a reply from elsewhere that claims its address",
       [&](Watch& w) { w.Answer(claims, Ip(10, 0, 1, 99)); }, false},
      {"a loopback reply that names its address",
       [&](Watch& w) { w.Socket().Deliver(suffixed, kLoopbackAddress, kDiscoveryPort); }, false},
      {"its address, another port", [&](Watch& w) { w.Answer(updated, kModule, 20035); }, false},
      {"an answer before any search could go",
       [&](Watch& w) {
         w.watch.Forget(kModule);
         w.Socket().sendFails = true;
         w.watch.AwaitComeback(kModule, Before());
         w.Answer(updated);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Watch w;
    w.watch.AwaitComeback(kModule, Before());
    c.after(w);
    EXPECT_EQ(w.State().seen.has_value(), c.back);
    if (c.back) {
      EXPECT_EQ(w.State().seen->app, w.State().silentSeen ? "Valve 2.1" : "Valve 2.2");
    }
  }
}

TEST(ModuleWatch, TellsWhyAModuleIsNotBack) {
  Watch w;
  w.watch.AwaitComeback(kModule, Before());
  ModuleReply same;
  same.name = "Pump-1";
  same.app = "Valve 2.1";
  w.Answer(same);
  ModuleReply stranger;
  stranger.name = "Other";
  stranger.Mac(0x77, 0x77);
  w.Answer(stranger);
  EXPECT_TRUE(w.State().answeredAsBefore);
  EXPECT_FALSE(w.State().silentSeen);
  ASSERT_TRUE(w.State().other);
  EXPECT_EQ(w.State().other->name, "Other");

  // No socket: no search can go.
  test::FakeNetwork net;
  net.takenPorts.insert(0);
  ModuleWatch none(&net, [] { return std::uint64_t{0}; });
  EXPECT_FALSE(none.IsOpen());
  EXPECT_EQ(none.OpenError(), 98);
  none.AwaitComeback(kModule, Before());
  EXPECT_TRUE(none.Find(kModule)->searchFailed);
  EXPECT_EQ(none.Find(kModule)->searches, 0u);
}

}  // namespace
}  // namespace tl
