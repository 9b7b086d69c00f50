// addReply on the test host: list order, tree order, labels, state images.
#include <gtest/gtest.h>

#include "tests/discovery/find_fixture.h"

namespace tl::test {
namespace {

using Lines = std::vector<std::string>;

ModuleReply Unit(const char* name, std::uint8_t mac) {
  ModuleReply m = ModuleReply{}.Mac(0, mac);
  m.name = name;
  return m;
}

// A device's second interface, wireless, that reports 10.0.2.2 as its address.
ModuleReply MovedWifi() {
  ModuleReply b = ModuleReply{}.Device(6).Mac(0, 2);
  b.marker = true;
  b.currentAddress = Ip(10, 0, 2, 2);
  b.kind = 1;
  return b;
}

class Merge : public FindFixture {};

TEST_F(Merge, SeparateKeysOrderedHighToLowShownInArrivalOrder) {
  Run([&] {
    Send(Unit("B", 5), Ip(10, 0, 0, 5));
    EXPECT_EQ(Tree(), (Lines{"B DHCP'd at 10.0.0.5 running :App [2]"}));
    EXPECT_EQ(window->TreeSelected(kIdDeviceTree), dialog->deviceList()->treeItem);

    Send(Unit("A", 2), Ip(10, 0, 0, 2));  // lowest: appended at the end
    Send(Unit("D", 9), Ip(10, 0, 0, 9));  // highest: new first
    Send(Unit("C", 7), Ip(10, 0, 0, 7));  // in the middle
    Send(Unit("Z", 1), Ip(10, 0, 0, 1));  // lowest again
    EXPECT_EQ(ListOrder(), (Lines{"D", "C", "B", "A", "Z"}));
    EXPECT_EQ(Tree(), (Lines{"B DHCP'd at 10.0.0.5 running :App [2]", "A DHCP'd at 10.0.0.2 running :App [2]",
                             "D DHCP'd at 10.0.0.9 running :App [2]", "C DHCP'd at 10.0.0.7 running :App [2]",
                             "Z DHCP'd at 10.0.0.1 running :App [2]"}));
    // Only the first item was selected.
    EXPECT_EQ(window->TreeSelected(kIdDeviceTree), window->Find(kIdDeviceTree)->roots[0]);
    CheckItemsMatchRecords();
  });
}

TEST_F(Merge, SameInterfaceWithoutGroupIsDropped) {
  Run([&] {
    ModuleReply off = Unit("P", 4);
    off.marker = true;
    off.currentAddress = Ip(10, 0, 0, 40);
    Send(off, Ip(10, 0, 0, 4));
    Send(off, Ip(10, 0, 0, 40));  // consistent now, still dropped
    EXPECT_EQ(Tree(), (Lines{"P DHCP'd at 10.0.0.40 running :App [3]"}));
    EXPECT_EQ(dialog->deviceList()->sourceAddress, Ip(10, 0, 0, 4));
    EXPECT_EQ(ListOrder(), (Lines{"P"}));
  });
}

TEST_F(Merge, SecondAndThirdInterfaceMakeAGroup) {
  Run([&] {
    ModuleReply first = ModuleReply{}.Device(3).Mac(0, 1);
    first.name = "Hub";
    first.staticAddress = Ip(10, 0, 1, 1);
    ModuleReply second = ModuleReply{}.Device(3).Mac(0, 2);
    second.name = "Hub-w";
    second.kind = 1;
    ModuleReply third = ModuleReply{}.Device(3).Mac(0, 3);
    third.kind = 2;
    Send(Unit("Low", 1), Ip(10, 0, 0, 1));
    Send(first, Ip(10, 0, 1, 1));
    EXPECT_EQ(Tree(), (Lines{"Low DHCP'd at 10.0.0.1 running :App [2]", "Hub  at 10.0.1.1 running :App [2]"}));
    Send(second, Ip(10, 0, 1, 2));
    EXPECT_EQ(Tree(), (Lines{"Low DHCP'd at 10.0.0.1 running :App [2]", "Hub running :App [1]",
                             "  Ethernet at 10.0.1.1 [2]", "  WiFi DHCP'd at 10.0.1.2 [4]"}));
    Send(third, Ip(10, 0, 1, 3));
    Send(second, Ip(10, 0, 1, 2));  // repeated: dropped
    EXPECT_EQ(Tree(), (Lines{"Low DHCP'd at 10.0.0.1 running :App [2]", "Hub running :App [1]",
                             "  Ethernet at 10.0.1.1 [2]", "  WiFi DHCP'd at 10.0.1.2 [4]",
                             "  Ethernet2 DHCP'd at 10.0.1.3 [2]"}));
    EXPECT_EQ(ListOrder(), (Lines{"Hub 1 2 3", "Low"}));
    CheckItemsMatchRecords();
    // The heard list now carries the three children and the lone one.
    window->Press(kIdSearchAgain);  // disabled: nothing happens
    host.loop.RunOnce();           // first tick
    const std::string& heard = Udp().sent.back().bytes;
    EXPECT_EQ(heard, std::string("ELI2V\0\x01\0\x02\0\x03\0\x01\0\0\0\0\0", 18));
  });
}

TEST_F(Merge, InconsistentChildUpdatedOrJoinedByAnother) {
  Run([&] {
    ModuleReply a = ModuleReply{}.Device(6).Mac(0, 1);
    ModuleReply b = MovedWifi();
    Send(a, Ip(10, 0, 2, 1));
    Send(b, Ip(10, 0, 2, 99));  // heard from an address it does not report
    EXPECT_EQ(Tree(), (Lines{"Unit running :App [1]", "  Ethernet DHCP'd at 10.0.2.1 [2]",
                             "  WiFi DHCP'd at 10.0.2.2 [5]"}));
    Send(b, Ip(10, 0, 2, 98));  // not consistent either: a further child
    EXPECT_EQ(Tree(), (Lines{"Unit running :App [1]", "  Ethernet DHCP'd at 10.0.2.1 [2]",
                             "  WiFi DHCP'd at 10.0.2.2 [5]", "  WiFi DHCP'd at 10.0.2.2 [5]"}));
    b.name = "Renamed";
    b.currentAddress = Ip(10, 0, 2, 50);
    Send(b, Ip(10, 0, 2, 50));  // consistent: the first such child is updated in place
    EXPECT_EQ(Tree(), (Lines{"Unit running :App [1]", "  Ethernet DHCP'd at 10.0.2.1 [2]",
                             "  WiFi DHCP'd at 10.0.2.50 [4]", "  WiFi DHCP'd at 10.0.2.2 [5]"}));
    const DeviceRecord* updated = dialog->deviceList()->children->next.get();
    EXPECT_EQ(updated->nameText, "Renamed");
    EXPECT_EQ(updated->sourceAddress, Ip(10, 0, 2, 50));
    b.name = "Later";
    Send(b, Ip(10, 0, 2, 50));  // its child is consistent now: dropped
    b.currentAddress = Ip(10, 0, 2, 60);
    Send(b, Ip(10, 0, 2, 50));  // an inconsistent one for a consistent child: dropped too
    Send(a, Ip(10, 0, 2, 1));   // the first interface again
    EXPECT_EQ(Tree(), (Lines{"Unit running :App [1]", "  Ethernet DHCP'd at 10.0.2.1 [2]",
                             "  WiFi DHCP'd at 10.0.2.50 [4]", "  WiFi DHCP'd at 10.0.2.2 [5]"}));
    EXPECT_EQ(updated->nameText, "Renamed");
    CheckItemsMatchRecords();
  });
}

TEST_F(Merge, RecordsKeepTheInterfaceTheirReplyCameIn) {
  Run([&] {
    Send(Unit("Lone", 1), Ip(10, 0, 0, 1), 2);
    Send(Unit("Lone", 1), Ip(10, 0, 0, 1), 3);  // dropped: the record keeps its first
    Send(ModuleReply{}.Device(6).Mac(0, 1), Ip(10, 0, 2, 1), 2);
    Send(MovedWifi(), Ip(10, 0, 2, 9), 3);  // the group forms; this child is not consistent
    Send(MovedWifi(), Ip(10, 0, 2, 2), 4);  // consistent: the child takes it over
    std::vector<unsigned> arrivals;
    for (const DeviceRecord* r = dialog->deviceList(); r != nullptr; r = r->next.get()) {
      arrivals.push_back(r->arrivedOn);
      for (const DeviceRecord* c = r->children.get(); c != nullptr; c = c->next.get()) arrivals.push_back(c->arrivedOn);
    }
    EXPECT_EQ(ListOrder(), (Lines{"Unit 1 2", "Lone"}));
    EXPECT_EQ(arrivals, (std::vector<unsigned>{2, 2, 4, 2}));
  });
}

TEST_F(Merge, RepeatOfAnInconsistentChildAddsNothing) {
  // A module that answers every heard list although its entry is in it.
  Run([&] {
    ModuleReply a = ModuleReply{}.Device(6).Mac(0, 1);
    ModuleReply b = MovedWifi();
    Send(a, Ip(10, 0, 2, 1));
    Send(b, Ip(10, 0, 2, 99));
    const Lines once = {"Unit running :App [1]", "  Ethernet DHCP'd at 10.0.2.1 [2]", "  WiFi DHCP'd at 10.0.2.2 [5]"};
    for (int i = 0; i < 3; ++i) Send(b, Ip(10, 0, 2, 99));
    EXPECT_EQ(Tree(), once);
    // What differs in an address or a text is a further child.
    struct Change {
      const char* what;
      void (*apply)(ModuleReply&, std::uint32_t&);
    };
    const Change changes[] = {
        {"source", [](ModuleReply&, std::uint32_t& from) { from = Ip(10, 0, 2, 98); }},
        {"current", [](ModuleReply& m, std::uint32_t&) { m.currentAddress = Ip(10, 0, 2, 3); }},
        {"static", [](ModuleReply& m, std::uint32_t&) { m.staticAddress = Ip(10, 0, 2, 4); }},
        {"name", [](ModuleReply& m, std::uint32_t&) { m.name = "Other"; }},
        {"second text", [](ModuleReply& m, std::uint32_t&) { m.app = "Other"; }},
    };
    std::size_t children = 2;
    for (const Change& c : changes) {
      SCOPED_TRACE(c.what);
      ModuleReply changed = b;
      std::uint32_t from = Ip(10, 0, 2, 99);
      c.apply(changed, from);
      Send(changed, from);
      Send(changed, from);  // and its repeat adds nothing
      EXPECT_EQ(Tree().size() - 1, ++children);
    }
    EXPECT_EQ(dialog->Devices().Interfaces(), children);
    CheckItemsMatchRecords();
  });
}

TEST(DeviceListCap, KeepsAtMostTheCapAndCountsTheInterfacesLeftOut) {
  DeviceList list;
  ModuleReply group = ModuleReply{}.Device(1).Mac(0xFF, 1);
  ModuleReply moved = ModuleReply{}.Device(1).Mac(0xFF, 2);
  moved.marker = true;
  moved.currentAddress = Ip(10, 9, 0, 2);
  list.AddReply(group.Decoded(Ip(10, 9, 0, 1)), nullptr);
  list.AddReply(moved.Decoded(Ip(10, 9, 0, 99)), nullptr);
  for (unsigned i = 2; i < DeviceList::kMostInterfaces; ++i) {
    list.AddReply(ModuleReply{}.Mac(std::uint8_t(i >> 8), std::uint8_t(i)).Decoded(Ip(10, 0, 0, 1)), nullptr);
  }
  ASSERT_EQ(list.Interfaces(), DeviceList::kMostInterfaces);
  // Full: new keys and new interfaces of a group are counted, once each.
  for (int repeat = 0; repeat < 4; ++repeat) {
    list.AddReply(ModuleReply{}.Mac(0xFE, 0).Decoded(Ip(10, 0, 0, 2)), nullptr);
    list.AddReply(ModuleReply{}.Mac(0xFE, 1).Decoded(Ip(10, 0, 0, 3)), nullptr);
    list.AddReply(ModuleReply{}.Device(1).Mac(0xFF, 3).Decoded(Ip(10, 9, 0, 3)), nullptr);
  }
  EXPECT_EQ(list.LeftOut(), 3u);
  EXPECT_EQ(list.Interfaces(), DeviceList::kMostInterfaces);
  EXPECT_EQ(list.Size(), DeviceList::kMostInterfaces - 1);
  // What is kept still takes its consistent reply.
  list.AddReply(moved.Decoded(Ip(10, 9, 0, 2)), nullptr);
  const DeviceRecord* device = list.First();
  ASSERT_TRUE(device->IsGroup());
  EXPECT_EQ(device->children->next->sourceAddress, Ip(10, 9, 0, 2));
  EXPECT_EQ(device->children->next->next, nullptr);
  list.Clear();
  EXPECT_EQ(list.Interfaces(), 0u);
  EXPECT_EQ(list.LeftOut(), 0u);
}

TEST_F(Merge, NoRecordIsLostAcrossManyMixedReplies) {
  Run([&] {
    // Keys arriving in a scrambled order, some grouped: every one stays
    // reachable from the head, in key order.
    std::size_t expected = 0;
    for (unsigned i = 0; i < 120; ++i) {
      unsigned k = (i * 37) % 120;
      ModuleReply m = ModuleReply{}.Mac(std::uint8_t(k >> 8), std::uint8_t(k));
      if (k % 10 == 0) m.Device(std::uint8_t(k / 10));
      Send(m, Ip(10, 1, 0, k + 1));
      ++expected;
    }
    std::size_t seen = 0;
    const DeviceRecord* prev = nullptr;
    for (const DeviceRecord* r = dialog->deviceList(); r != nullptr; r = r->next.get()) {
      ++seen;
      if (prev) {
        EXPECT_TRUE(r->groupKey < prev->groupKey);
      }
      prev = r;
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(window->Find(kIdDeviceTree)->roots.size(), expected);
    CheckItemsMatchRecords();
  });
}

TEST_F(Merge, SearchAgainReleasesRecordsAndStartsOver) {
  Run([&] {
    Send(Unit("A", 1), 1);
    Send(Unit("B", 2), 2);
    for (int i = 0; i < 3; ++i) host.loop.RunOnce();
    ASSERT_TRUE(window->IsControlEnabled(kIdSearchAgain));
    window->Press(kIdSearchAgain);
    EXPECT_EQ(dialog->deviceList(), nullptr);
    EXPECT_TRUE(Tree().empty());
    Send(Unit("C", 3), 3);
    EXPECT_EQ(Tree(), (Lines{"C DHCP'd at 0.0.0.3 running :App [2]"}));
    EXPECT_EQ(window->TreeSelected(kIdDeviceTree), window->Find(kIdDeviceTree)->roots[0]);
  });
}

}  // namespace
}  // namespace tl::test
