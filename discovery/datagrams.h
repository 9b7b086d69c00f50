// The three discovery datagrams: the search request, the heard list and the
// module's reply. Addresses are held as numbers, first octet most
// significant, which is the four wire bytes in their network order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tl {

class DeviceRecord;

constexpr std::uint16_t kDiscoveryPort = 20034;
constexpr std::uint16_t kDiscoveryPortAlternative = 20035;
constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFFu;
constexpr std::uint32_t kLoopbackAddress = 0x7F000001u;

constexpr std::size_t kLargestDatagram = 1024;
constexpr std::size_t kInfoBlockLength = 148;
constexpr std::size_t kReplyFixedLength = 153;
constexpr std::size_t kSearchRequestLength = 153;
constexpr std::size_t kLongestNameText = 79;
constexpr std::size_t kLongestSecondText = 199;
constexpr std::size_t kHeardListBufferLength = 1508;
constexpr std::size_t kMostHeardEntries = (kHeardListBufferLength - 10) / 2;  // 749

using InfoBlock = std::array<std::uint8_t, kInfoBlockLength>;
using MacAddress = std::array<std::uint8_t, 6>;

// Offsets within the information block.
namespace info {
constexpr std::size_t kBlockLength = 0;
constexpr std::size_t kStaticAddress = 4;
constexpr std::size_t kInterfaceMac = 107;
constexpr std::size_t kDeviceMac = 118;
constexpr std::size_t kInterfaceKind = 124;
constexpr std::size_t kAddressMarker = 125;
constexpr std::size_t kCurrentAddress = 126;
constexpr std::uint8_t kMarkerPresent = 0xAA;
}  // namespace info

// The decoded values of one valid reply.
struct Reply {
  std::string nameText;
  std::string appText;
  std::uint32_t sourceAddress = 0;
  InfoBlock infoBlock{};
  unsigned arrivedOn = 0;  // the local interface it came in on (the host's id); 0: not known
};

// Fields read out of an information block.
std::uint32_t StaticAddressOf(const InfoBlock& block);
std::uint32_t CurrentAddressOf(const InfoBlock& block);
bool HasCurrentAddress(const InfoBlock& block);
MacAddress InterfaceMacOf(const InfoBlock& block);
MacAddress DeviceMacOf(const InfoBlock& block);
// deviceMac when any of its bytes is set, else interfaceMac.
MacAddress GroupKeyOf(const InfoBlock& block);
// The consistency test of a reply heard from sourceAddress.
bool IsConsistentReply(const InfoBlock& block, std::uint32_t sourceAddress);
// "02:00:5e:10:00:01".
std::string MacText(const MacAddress& mac);
// "Ethernet", "WiFi" or "Ethernet2" by interfaceKind modulo 3.
const char* KindNameOf(std::uint8_t interfaceKind);

// "ELIN", 0x52, 148 zero bytes.
std::array<std::uint8_t, kSearchRequestLength> BuildSearchRequest();

// Writes the heard list for the top-level list starting at first into
// buffer and returns its length (2n + 10). More interfaces than fit: equal
// entries are written once, and what still does not fit is left out.
std::size_t BuildHeardList(const DeviceRecord* first,
                           std::array<std::uint8_t, kHeardListBufferLength>& buffer);

// Decodes one received datagram. False when it is to be ignored: empty,
// from 127.0.0.1 but shorter than the four address bytes, shorter than the
// fixed part, or without the "OMBR" magic. Never reads past length.
bool DecodeReply(const std::uint8_t* data, std::size_t length, std::uint32_t fromAddress,
                 Reply& reply);

}  // namespace tl
