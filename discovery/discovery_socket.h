// The device selection dialog's UDP socket: broadcasts the search request
// and the heard list, and hands every valid reply to its owner.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "discovery/datagrams.h"
#include "platform/core/platform.h"

namespace tl {

class DeviceRecord;

// Whoever takes the decoded replies (the FindDialog).
class ReplySink {
 public:
  // The reply's four values, and the local interface it came in on.
  virtual void addReply(const Reply& reply) = 0;

 protected:
  ~ReplySink() = default;
};

// Where the search request and the heard lists go, to port 20034: an
// address, and the local interface to leave by (0: the one the routing
// table picks).
struct SearchDestination {
  std::uint32_t address = kBroadcastAddress;
  unsigned via = 0;
};

class DiscoverySocket final : public SocketEvents {
 public:
  // Opens the socket on 20034, else 20035, with broadcasting. A failure is
  // shown in a message box; the object then sends nothing and never receives.
  // Each datagram goes to every destination in turn (by default the one
  // broadcast to 255.255.255.255).
  explicit DiscoverySocket(ReplySink& owner,
                           std::vector<SearchDestination> destinations = {SearchDestination{}});
  ~DiscoverySocket();
  DiscoverySocket(const DiscoverySocket&) = delete;
  DiscoverySocket& operator=(const DiscoverySocket&) = delete;

  void sendSearch();
  void sendHeardList(const DeviceRecord* first);
  void OnReceive(int error) override;

  bool IsOpen() const { return socket_ != nullptr; }

 private:
  void SendToEach(const std::uint8_t* data, std::size_t length);

  ReplySink& owner_;
  std::vector<SearchDestination> destinations_;
  std::uint16_t destinationPort_ = kDiscoveryPort;
  std::unique_ptr<UdpSocket> socket_;
  std::array<std::uint8_t, kLargestDatagram> receiveBuffer_{};
  std::array<std::uint8_t, kHeardListBufferLength> heardList_{};
};

}  // namespace tl
