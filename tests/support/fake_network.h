// A network with no wire: tests see every byte written and deliver the
// peer's bytes and events themselves.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/core/platform.h"

namespace tl::test {

class FakeTcpSocket : public TcpSocket {
 public:
  FakeTcpSocket(class FakeNetwork& net, SocketEvents& events, std::uint32_t toAddress,
                std::uint16_t toPort);
  ~FakeTcpSocket() override;

  long Read(void* buffer, std::size_t capacity) override;
  long Write(const void* data, std::size_t length) override;
  std::size_t Queued() const override { return peerReadsNothing ? written.size() : queued; }
  bool ClosedByPeer() const override { return closedByPeer; }

  // ---- the peer's side
  void CompleteConnect(int error) { events_.OnConnect(error); }
  // Queues bytes and signals read readiness once.
  void Deliver(std::string_view bytes);
  void SignalReceiveError(int error) { events_.OnReceive(error); }
  std::string TakeWritten();

  std::uint32_t address;
  std::uint16_t port;
  std::string written;             // every byte written, in order
  std::vector<std::string> writes; // one entry per Write call
  std::deque<char> inbound;
  bool readError = false;
  long writeLimit = -1;  // >= 0: a Write takes at most this many bytes
  std::size_t queued = 0;  // what the peer has not taken yet, as Queued() reports it
  bool peerReadsNothing = false;  // every byte written stays queued
  bool closedByPeer = false;      // reads find the connection closed
  bool* destroyed = nullptr;

 private:
  FakeNetwork* net_;
  std::shared_ptr<bool> netAlive_;
  SocketEvents& events_;
};

class FakeUdpSocket : public UdpSocket {
 public:
  struct Datagram {
    std::string bytes;
    std::uint32_t address;
    std::uint16_t port;
    unsigned interface = 0;  // sent out of / arrived on; 0: as the routing table says
  };
  FakeUdpSocket(class FakeNetwork& net, SocketEvents& events, std::uint16_t port);
  ~FakeUdpSocket() override;

  bool EnableBroadcast() override { return broadcastAllowed && (broadcast = true); }
  long SendTo(const void* data, std::size_t length, std::uint32_t address, std::uint16_t port) override;
  long SendToVia(unsigned via, const void* data, std::size_t length, std::uint32_t address,
                 std::uint16_t port) override;
  long ReceiveFromOn(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                     std::uint16_t* fromPort, unsigned* arrivedOn) override;

  // ---- the peers' side: queue a datagram and signal read readiness.
  void Deliver(std::string_view bytes, std::uint32_t fromAddress, std::uint16_t fromPort = 20034,
               unsigned arrivedOn = 0);

  std::uint16_t localPort;
  bool broadcast = false;
  bool broadcastAllowed = true;
  bool sendFails = false;
  std::vector<Datagram> sent;
  std::deque<Datagram> inbound;

 private:
  FakeNetwork* net_;
  std::shared_ptr<bool> netAlive_;
  SocketEvents& events_;
};

class FakeNetwork : public Network {
 public:
  FakeNetwork() = default;
  ~FakeNetwork() override { *alive = false; }
  FakeNetwork(const FakeNetwork&) = delete;
  FakeNetwork& operator=(const FakeNetwork&) = delete;
  // Sockets may outlive the network; they forget themselves only while it lives.
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);

  bool Startup(int major, int minor, int* grantedMajor, int* grantedMinor) override;
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t localPort, SocketEvents& events) override;
  std::vector<NetworkInterface> Interfaces() override { return interfaces; }
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t address, std::uint16_t port,
                                        SocketEvents& events) override;
  long LastError() override { return lastError; }

  // Settings for the next calls.
  bool startupWorks = true;
  int grantedMajor = -1, grantedMinor = -1;  // -1: as asked
  bool tcpCreateFails = false;
  long lastError = 0;
  std::set<std::uint16_t> takenPorts;
  bool udpBroadcastAllowed = true;
  std::vector<NetworkInterface> interfaces;

  // What exists now (null entries once destroyed).
  std::vector<FakeTcpSocket*> tcp;
  std::vector<FakeUdpSocket*> udp;
  int tcpConnects = 0;
  FakeTcpSocket* LastTcp() const { return tcp.empty() ? nullptr : tcp.back(); }
  FakeUdpSocket* LastUdp() const { return udp.empty() ? nullptr : udp.back(); }

  void Forget(FakeTcpSocket* s);
  void Forget(FakeUdpSocket* s);
};

}  // namespace tl::test
