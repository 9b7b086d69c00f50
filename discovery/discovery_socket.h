// The device selection dialog's UDP socket: broadcasts the search request
// and the heard list, and hands every valid reply to its owner.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "discovery/datagrams.h"
#include "platform/core/platform.h"

namespace tl {

class DeviceRecord;

// Whoever takes the decoded replies (the FindDialog).
class ReplySink {
 public:
  virtual void addReply(const std::string& nameText, const std::string& appText,
                        std::uint32_t sourceAddress, const InfoBlock& infoBlock) = 0;

 protected:
  ~ReplySink() = default;
};

class DiscoverySocket final : public SocketEvents {
 public:
  // Opens the socket on 20034, else 20035, with broadcasting. A failure is
  // shown in a message box; the object then sends nothing and never receives.
  explicit DiscoverySocket(ReplySink& owner);
  ~DiscoverySocket();
  DiscoverySocket(const DiscoverySocket&) = delete;
  DiscoverySocket& operator=(const DiscoverySocket&) = delete;

  void sendSearch();
  void sendHeardList(const DeviceRecord* first);
  void OnReceive(int error) override;

  bool IsOpen() const { return socket_ != nullptr; }
  std::uint16_t LocalPort() const { return localPort_; }

 private:
  ReplySink& owner_;
  std::uint32_t destinationAddress_ = kBroadcastAddress;
  std::uint16_t destinationPort_ = kDiscoveryPort;
  std::unique_ptr<UdpSocket> socket_;
  std::uint16_t localPort_ = 0;
  std::array<std::uint8_t, kLargestDatagram> receiveBuffer_{};
  std::array<std::uint8_t, kHeardListBufferLength> heardList_{};
};

}  // namespace tl
