// The discovery datagrams and the derived properties of a record.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "discovery/datagrams.h"
#include "discovery/device_list.h"
#include "discovery/device_record.h"
#include "platform/core/layout.h"
#include "tests/discovery/reply_builder.h"

namespace tl::test {
namespace {

std::string Fixed() { return ModuleReply{}.Bytes().substr(0, kReplyFixedLength); }

bool Decode(const std::string& bytes, std::uint32_t from, Reply& out) {
  return DecodeReply(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), from, out);
}

Reply DecodeOk(const std::string& bytes, std::uint32_t from = Ip(10, 0, 0, 9)) {
  Reply r;
  EXPECT_TRUE(Decode(bytes, from, r));
  return r;
}

TEST(DiscoveryTexts, NameAndSecondTextRules) {
  Reply r = DecodeOk(Fixed());
  EXPECT_EQ(r.nameText, "");
  EXPECT_EQ(r.appText, "");

  r = DecodeOk(Fixed() + "Pump");  // no NUL: no second text
  EXPECT_EQ(r.nameText, "Pump");
  EXPECT_EQ(r.appText, "");

  r = DecodeOk(Fixed() + "Pump" + std::string(1, '\0') + "x");  // NUL second-last
  EXPECT_EQ(r.appText, "");
  r = DecodeOk(Fixed() + "Pump" + std::string(1, '\0') + "x" + std::string(1, '\0'));
  EXPECT_EQ(r.appText, ":x");
  r = DecodeOk(Fixed() + "Pump" + std::string(1, '\0') + "xy");
  EXPECT_EQ(r.appText, ":xy");

  r = DecodeOk(Fixed() + "Pump" + std::string(1, '\0') + "Unknown" + std::string(1, '\0'));
  EXPECT_EQ(r.appText, "");
  r = DecodeOk(Fixed() + "Pump" + std::string(1, '\0') + "Valve" + std::string(1, '\0'));
  EXPECT_EQ(r.appText, ":Valve");
  r = DecodeOk(Fixed() + "Pump" + std::string(2, '\0') + "z");
  EXPECT_EQ(r.appText, ":");

  std::string longName(100, 'N');
  longName[79] = 'X';
  r = DecodeOk(Fixed() + longName + std::string(1, '\0') + "After" + std::string(1, '\0'));
  EXPECT_EQ(r.nameText, std::string(79, 'N'));
  EXPECT_EQ(r.appText, ":After");

  r = DecodeOk(Fixed() + "N" + std::string(1, '\0') + std::string(300, 's'));
  EXPECT_EQ(r.appText, ":" + std::string(199, 's'));

  // Bytes taken as they come, high ones included.
  r = DecodeOk(Fixed() + "\xE9t\xE9" + std::string(1, '\0') + "\xFF\x80" + std::string(1, '\0'));
  EXPECT_EQ(r.nameText, "\xE9t\xE9");
  EXPECT_EQ(r.appText, ":\xFF\x80");
}

TEST(DiscoveryDecode, IgnoredDatagramsAndLoopback) {
  Reply r;
  EXPECT_FALSE(Decode("", Ip(10, 0, 0, 1), r));
  EXPECT_FALSE(Decode(Fixed().substr(0, 152), Ip(10, 0, 0, 1), r));  // short reply
  std::string wrong = Fixed();
  wrong[3] = 'X';
  EXPECT_FALSE(Decode(wrong, Ip(10, 0, 0, 1), r));
  std::string search(153, '\0');
  search.replace(0, 5, "ELINR");
  EXPECT_FALSE(Decode(search, Ip(10, 0, 0, 1), r));
  // Magic checked, type byte not.
  std::string anyType = Fixed();
  anyType[4] = '\x00';
  EXPECT_TRUE(Decode(anyType, Ip(10, 0, 0, 1), r));

  // Loopback: the last four bytes are the real source.
  std::string bytes = ModuleReply{}.Bytes();
  r = DecodeOk(bytes + std::string("\x0A\x00\x00\x05", 4), kLoopbackAddress);
  EXPECT_EQ(r.sourceAddress, Ip(10, 0, 0, 5));
  EXPECT_EQ(r.nameText, "Unit");
  EXPECT_EQ(r.appText, ":App");
  for (std::size_t n = 0; n < 4; ++n) {
    EXPECT_FALSE(Decode(std::string(n, 'O'), kLoopbackAddress, r)) << n;
  }
  // 153 bytes from loopback are 149 after the rule: too short.
  EXPECT_FALSE(Decode(Fixed(), kLoopbackAddress, r));

  // A blockLength that says otherwise changes nothing: 148 bytes are taken.
  std::string lying = ModuleReply{}.Bytes();
  lying[5 + 3] = 10;
  r = DecodeOk(lying);
  EXPECT_EQ(r.infoBlock[3], 10);
  EXPECT_EQ(r.nameText, "Unit");
}

TEST(DiscoveryDecode, NeverReadsPastTheEnd) {
  // Each prefix is decoded from its own heap block of exactly that size, so
  // the sanitizer build would see a read past it.
  const std::string full = ModuleReply{}.Bytes() + "tail";
  for (std::size_t n = 0; n <= full.size(); ++n) {
    auto copy = std::make_unique<std::uint8_t[]>(n == 0 ? 1 : n);
    std::copy_n(full.data(), n, copy.get());
    Reply r;
    DecodeReply(copy.get(), n, kLoopbackAddress, r);
    DecodeReply(copy.get(), n, Ip(10, 0, 0, 1), r);
  }
}

TEST(DiscoveryRecord, ConsistencyAndConnectAddress) {
  ModuleReply m;
  m.marker = true;
  m.currentAddress = Ip(10, 0, 0, 7);
  DeviceRecord far(m.Decoded(Ip(10, 0, 0, 9)));
  EXPECT_FALSE(far.isConsistent());
  EXPECT_EQ(far.connectAddress(), Ip(10, 0, 0, 7));
  DeviceRecord near(m.Decoded(Ip(10, 0, 0, 7)));
  EXPECT_TRUE(near.isConsistent());
  EXPECT_EQ(near.connectAddress(), Ip(10, 0, 0, 7));

  m.staticAddress = Ip(10, 0, 0, 9);
  EXPECT_TRUE(DeviceRecord(m.Decoded(Ip(10, 0, 0, 9))).isConsistent());
  m.currentAddress = 0;
  DeviceRecord staticOnly(m.Decoded(Ip(10, 0, 0, 1)));
  EXPECT_FALSE(staticOnly.isConsistent());
  EXPECT_EQ(staticOnly.connectAddress(), Ip(10, 0, 0, 9));
  m.staticAddress = 0;
  EXPECT_EQ(DeviceRecord(m.Decoded(Ip(10, 0, 0, 1))).connectAddress(), 0u);

  ModuleReply unmarked;
  unmarked.currentAddress = Ip(1, 2, 3, 4);
  unmarked.staticAddress = Ip(5, 6, 7, 8);
  DeviceRecord u(unmarked.Decoded(Ip(10, 0, 0, 3)));
  EXPECT_TRUE(u.isConsistent());
  EXPECT_EQ(u.connectAddress(), Ip(10, 0, 0, 3));
  EXPECT_FALSE(u.usesDhcp());
}

TEST(DiscoveryRecord, KindsKeysAndLabels) {
  ModuleReply m;
  const char* names[] = {"Ethernet", "WiFi", "Ethernet2", "Ethernet", "WiFi", "Ethernet2"};
  const int images[] = {2, 4, 2, 2, 2, 2};
  for (std::uint8_t k = 0; k < 6; ++k) {
    m.kind = k;
    DeviceRecord r(m.Decoded(Ip(10, 0, 0, 5)));
    EXPECT_STREQ(r.kindName(), names[k]);
    EXPECT_EQ(r.stateImage(), images[k]) << int(k);
  }
  m.kind = 255;  // 255 % 3 == 0
  EXPECT_STREQ(DeviceRecord(m.Decoded(1)).kindName(), "Ethernet");

  ModuleReply alone;
  EXPECT_EQ(DeviceRecord(alone.Decoded(1)).groupKey, alone.interfaceMac);
  ModuleReply grouped;
  grouped.deviceMac = {0, 0, 0, 0, 0, 1};
  EXPECT_EQ(DeviceRecord(grouped.Decoded(1)).groupKey, grouped.deviceMac);

  ModuleReply dhcp;
  dhcp.name = "Pump";
  dhcp.app = "";
  DeviceRecord d(dhcp.Decoded(Ip(10, 0, 0, 5)));
  EXPECT_TRUE(d.usesDhcp());
  EXPECT_EQ(d.label(), "Pump DHCP'd at 10.0.0.5 running ");
  dhcp.staticAddress = Ip(192, 168, 1, 20);
  dhcp.app = "Valve";
  EXPECT_EQ(DeviceRecord(dhcp.Decoded(Ip(192, 168, 1, 20))).label(),
            "Pump  at 192.168.1.20 running :Valve");
}

// Builds a list through the merge so the heard list sees real records.
struct ListOf {
  DeviceList list;
  void Add(const ModuleReply& m, std::uint32_t from) { list.AddReply(m.Decoded(from), nullptr); }
  std::vector<std::uint8_t> Heard() {
    std::array<std::uint8_t, kHeardListBufferLength> buf;
    buf.fill(0xEE);
    std::size_t n = BuildHeardList(list.First(), buf);
    return std::vector<std::uint8_t>(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
  }
};

TEST(DiscoveryDatagrams, SearchRequestAndHeardLists) {
  auto search = BuildSearchRequest();
  ASSERT_EQ(search.size(), 153u);
  EXPECT_EQ(std::string(search.begin(), search.begin() + 5), "ELINR");
  for (std::size_t i = 5; i < 153; ++i) ASSERT_EQ(search[i], 0) << i;

  ListOf empty;
  EXPECT_EQ(empty.Heard(), (std::vector<std::uint8_t>{'E', 'L', 'I', '2', 0x56, 0, 0, 0, 0, 0}));

  ListOf one;
  one.Add(ModuleReply{}.Mac(0x12, 0x34), 5);
  EXPECT_EQ(one.Heard(), (std::vector<std::uint8_t>{'E', 'L', 'I', '2', 0x56, 0x12, 0x34, 0, 0, 0, 0, 0}));

  ListOf bad;
  ModuleReply off = ModuleReply{}.Mac(0x12, 0x34);
  off.marker = true;
  off.currentAddress = Ip(10, 0, 0, 7);
  bad.Add(off, Ip(10, 0, 0, 9));
  EXPECT_EQ(bad.Heard(), (std::vector<std::uint8_t>{'E', 'L', 'I', '2', 0x56, 0x92, 0x34, 0, 0, 0, 0, 0}));

  // A group gives its children, not itself; list order is key order.
  ListOf group;
  group.Add(ModuleReply{}.Device(9).Mac(0, 1), 1);
  group.Add(ModuleReply{}.Device(9).Mac(0, 2), 2);
  group.Add(ModuleReply{}.Mac(0, 3), 3);
  EXPECT_EQ(group.Heard(), (std::vector<std::uint8_t>{'E', 'L', 'I', '2', 0x56, 0, 1, 0, 2, 0, 3, 0, 0, 0, 0, 0}));
}

TEST(DiscoveryDatagrams, HeardListNeverOverruns) {
  // 749 fit exactly.
  ListOf full;
  for (unsigned i = 0; i < 749; ++i) full.Add(ModuleReply{}.Mac(std::uint8_t(i >> 8), std::uint8_t(i)), i + 1);
  EXPECT_EQ(full.Heard().size(), kHeardListBufferLength);

  // 900 distinct: 749 entries, the list still ends in five zeros.
  ListOf over;
  for (unsigned i = 0; i < 900; ++i) over.Add(ModuleReply{}.Mac(std::uint8_t(i >> 8), std::uint8_t(i)), i + 1);
  auto heard = over.Heard();
  ASSERT_EQ(heard.size(), kHeardListBufferLength);
  EXPECT_EQ(std::vector<std::uint8_t>(heard.end() - 5, heard.end()), std::vector<std::uint8_t>(5, 0));

  // 800 records but only 400 distinct entries (their first four MAC bytes
  // differ): every distinct entry gets in.
  ListOf dup;
  for (unsigned i = 0; i < 800; ++i) {
    ModuleReply m = ModuleReply{}.Mac(std::uint8_t((i % 400) >> 8), std::uint8_t(i % 400));
    m.interfaceMac[3] = std::uint8_t(i / 400);
    dup.Add(m, i + 1);
  }
  EXPECT_EQ(dup.list.Size(), 800u);
  EXPECT_EQ(dup.Heard().size(), 2u * 400 + 10);
}

}  // namespace
}  // namespace tl::test

namespace tl::test {
namespace {

TEST(DiscoveryStateImages, StripHasEightPicturesAndNoKeyColour) {
  const char* const* xpm = LoadBitmapResource(kBitmapStateImages);
  ASSERT_NE(xpm, nullptr);
  int width = 0, height = 0, colours = 0, chars = 0;
  ASSERT_EQ(std::sscanf(xpm[0], "%d %d %d %d", &width, &height, &colours, &chars), 4);
  EXPECT_EQ(width, 8 * 16);
  EXPECT_EQ(height, 16);
  for (int c = 1; c <= colours; ++c) EXPECT_EQ(std::string(xpm[c]).find("#100000"), std::string::npos);
  for (int y = 0; y < height; ++y) EXPECT_EQ(std::string(xpm[1 + colours + y]).size(), 128u);
  EXPECT_EQ(LoadBitmapResource(kIconApp), nullptr);
}

}  // namespace
}  // namespace tl::test
