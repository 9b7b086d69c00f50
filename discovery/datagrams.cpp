#include "discovery/datagrams.h"

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <memory>

#include "discovery/device_record.h"

namespace tl {

namespace {

std::uint32_t Read32(const InfoBlock& block, std::size_t at) {
  return (std::uint32_t{block[at]} << 24) | (std::uint32_t{block[at + 1]} << 16) |
         (std::uint32_t{block[at + 2]} << 8) | std::uint32_t{block[at + 3]};
}

MacAddress Read6(const InfoBlock& block, std::size_t at) {
  MacAddress mac;
  std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(at), mac.size(), mac.begin());
  return mac;
}

// Bytes from begin up to the first NUL or end.
const std::uint8_t* FindNul(const std::uint8_t* begin, const std::uint8_t* end) {
  return std::find(begin, end, std::uint8_t{0});
}

}  // namespace

std::uint32_t StaticAddressOf(const InfoBlock& block) { return Read32(block, info::kStaticAddress); }
std::uint32_t CurrentAddressOf(const InfoBlock& block) { return Read32(block, info::kCurrentAddress); }
bool HasCurrentAddress(const InfoBlock& block) {
  return block[info::kAddressMarker] == info::kMarkerPresent;
}
MacAddress InterfaceMacOf(const InfoBlock& block) { return Read6(block, info::kInterfaceMac); }
MacAddress DeviceMacOf(const InfoBlock& block) { return Read6(block, info::kDeviceMac); }

MacAddress GroupKeyOf(const InfoBlock& block) {
  MacAddress device = DeviceMacOf(block);
  bool any = std::any_of(device.begin(), device.end(), [](std::uint8_t b) { return b != 0; });
  return any ? device : InterfaceMacOf(block);
}

bool IsConsistentReply(const InfoBlock& block, std::uint32_t sourceAddress) {
  return !HasCurrentAddress(block) || sourceAddress == CurrentAddressOf(block) ||
         sourceAddress == StaticAddressOf(block);
}

std::string MacText(const MacAddress& m) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

const char* KindNameOf(std::uint8_t interfaceKind) {
  switch (interfaceKind % 3) {
    case 0: return "Ethernet";
    case 1: return "WiFi";
    default: return "Ethernet2";
  }
}

std::array<std::uint8_t, kSearchRequestLength> BuildSearchRequest() {
  std::array<std::uint8_t, kSearchRequestLength> request{};
  std::memcpy(request.data(), "ELIN", 4);
  request[4] = 0x52;
  return request;
}

std::size_t BuildHeardList(const DeviceRecord* first,
                           std::array<std::uint8_t, kHeardListBufferLength>& buffer) {
  std::memcpy(buffer.data(), "ELI2", 4);
  buffer[4] = 0x56;
  std::size_t count = 0;
  auto entryOf = [](const DeviceRecord& r) {
    MacAddress mac = r.interfaceMac();
    std::uint8_t high = r.isConsistent() ? mac[4] : static_cast<std::uint8_t>(mac[4] ^ 0x80);
    return static_cast<std::uint16_t>((high << 8) | mac[5]);
  };
  auto forEachEntry = [&](auto&& fn) {
    for (const DeviceRecord* r = first; r != nullptr; r = r->next.get()) {
      if (r->IsGroup()) {
        for (const DeviceRecord* c = r->children.get(); c != nullptr; c = c->next.get()) fn(*c);
      } else {
        fn(*r);
      }
    }
  };
  std::size_t total = 0;
  forEachEntry([&](const DeviceRecord&) { ++total; });
  // Too many for the buffer: a repeated entry tells the modules nothing new,
  // so each one goes in once; what still does not fit is left out.
  std::unique_ptr<std::bitset<65536>> seen;
  if (total > kMostHeardEntries) seen = std::make_unique<std::bitset<65536>>();
  forEachEntry([&](const DeviceRecord& r) {
    if (count == kMostHeardEntries) return;
    std::uint16_t entry = entryOf(r);
    if (seen) {
      if (seen->test(entry)) return;
      seen->set(entry);
    }
    buffer[5 + 2 * count] = static_cast<std::uint8_t>(entry >> 8);
    buffer[6 + 2 * count] = static_cast<std::uint8_t>(entry & 0xFF);
    ++count;
  });
  std::memset(buffer.data() + 5 + 2 * count, 0, 5);
  return 2 * count + 10;
}

bool DecodeReply(const std::uint8_t* data, std::size_t length, std::uint32_t fromAddress,
                 Reply& reply) {
  if (data == nullptr || length == 0) return false;
  std::uint32_t source = fromAddress;
  if (fromAddress == kLoopbackAddress) {
    if (length < 4) return false;
    const std::uint8_t* tail = data + length - 4;
    source = (std::uint32_t{tail[0]} << 24) | (std::uint32_t{tail[1]} << 16) |
             (std::uint32_t{tail[2]} << 8) | std::uint32_t{tail[3]};
    length -= 4;
  }
  if (length < kReplyFixedLength) return false;
  if (std::memcmp(data, "OMBR", 4) != 0) return false;

  const std::uint8_t* end = data + length;
  std::string name;
  std::string app;
  if (length > kReplyFixedLength) {
    const std::uint8_t* nameBegin = data + kReplyFixedLength;
    const std::uint8_t* nul = FindNul(nameBegin, end);
    std::size_t nameLength = std::min<std::size_t>(static_cast<std::size_t>(nul - nameBegin), kLongestNameText);
    name.assign(reinterpret_cast<const char*>(nameBegin), nameLength);
    if (nul != end && (nul + 2) < end) {
      const std::uint8_t* secondBegin = nul + 1;
      const std::uint8_t* secondEnd = FindNul(secondBegin, end);
      std::size_t secondLength =
          std::min<std::size_t>(static_cast<std::size_t>(secondEnd - secondBegin), kLongestSecondText);
      app = ":" + std::string(reinterpret_cast<const char*>(secondBegin), secondLength);
      if (app == ":Unknown") app.clear();
    }
  }
  reply.nameText = std::move(name);
  reply.appText = std::move(app);
  reply.sourceAddress = source;
  std::copy_n(data + 5, kInfoBlockLength, reply.infoBlock.begin());
  return true;
}

}  // namespace tl
