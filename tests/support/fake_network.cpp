#include "tests/support/fake_network.h"

#include <algorithm>
#include <cstring>

namespace tl::test {

FakeTcpSocket::FakeTcpSocket(FakeNetwork& net, SocketEvents& events, std::uint32_t toAddress,
                             std::uint16_t toPort)
    : address(toAddress), port(toPort), net_(&net), netAlive_(net.alive), events_(events) {}

FakeTcpSocket::~FakeTcpSocket() {
  if (destroyed) *destroyed = true;
  if (*netAlive_) net_->Forget(this);
}

FakeUdpSocket::FakeUdpSocket(FakeNetwork& net, SocketEvents& events, std::uint16_t port)
    : localPort(port), net_(&net), netAlive_(net.alive), events_(events) {}

long FakeTcpSocket::Read(void* buffer, std::size_t capacity) {
  if (readError) return -1;
  if (inbound.empty() || capacity == 0) return 0;
  std::size_t n = std::min(capacity, inbound.size());
  auto* out = static_cast<char*>(buffer);
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = inbound.front();
    inbound.pop_front();
  }
  return static_cast<long>(n);
}

long FakeTcpSocket::Write(const void* data, std::size_t length) {
  std::size_t n = length;
  if (writeLimit >= 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(writeLimit));
  std::string bytes(static_cast<const char*>(data), n);
  written += bytes;
  writes.push_back(bytes);
  return static_cast<long>(n);
}

void FakeTcpSocket::Deliver(std::string_view bytes) {
  inbound.insert(inbound.end(), bytes.begin(), bytes.end());
  events_.OnReceive(0);
}

std::string FakeTcpSocket::TakeWritten() {
  std::string out;
  out.swap(written);
  writes.clear();
  return out;
}

FakeUdpSocket::~FakeUdpSocket() {
  if (*netAlive_) net_->Forget(this);
}

long FakeUdpSocket::SendTo(const void* data, std::size_t length, std::uint32_t address,
                           std::uint16_t port) {
  return SendToVia(0, data, length, address, port);
}

long FakeUdpSocket::SendToVia(unsigned via, const void* data, std::size_t length,
                              std::uint32_t address, std::uint16_t port) {
  if (sendFails) return -1;
  sent.push_back(Datagram{std::string(static_cast<const char*>(data), length), address, port, via});
  return static_cast<long>(length);
}

long FakeUdpSocket::ReceiveFromOn(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                                  std::uint16_t* fromPort, unsigned* arrivedOn) {
  if (inbound.empty()) return 0;
  Datagram d = inbound.front();
  inbound.pop_front();
  if (d.bytes.size() > capacity) return -1;  // as the real socket: never a cut datagram
  std::memcpy(buffer, d.bytes.data(), d.bytes.size());
  if (fromAddress) *fromAddress = d.address;
  if (fromPort) *fromPort = d.port;
  if (arrivedOn) *arrivedOn = d.interface;
  return static_cast<long>(d.bytes.size());
}

void FakeUdpSocket::Deliver(std::string_view bytes, std::uint32_t fromAddress,
                            std::uint16_t fromPort, unsigned arrivedOn) {
  inbound.push_back(Datagram{std::string(bytes), fromAddress, fromPort, arrivedOn});
  events_.OnReceive(0);
}

bool FakeNetwork::Startup(int major, int minor, int* gMajor, int* gMinor) {
  if (gMajor) *gMajor = grantedMajor < 0 ? major : grantedMajor;
  if (gMinor) *gMinor = grantedMinor < 0 ? minor : grantedMinor;
  return startupWorks;
}

std::unique_ptr<UdpSocket> FakeNetwork::OpenUdp(std::uint16_t localPort, SocketEvents& events) {
  if (takenPorts.count(localPort)) {
    lastError = 98;
    return nullptr;
  }
  auto s = std::make_unique<FakeUdpSocket>(*this, events, localPort);
  s->broadcastAllowed = udpBroadcastAllowed;
  udp.push_back(s.get());
  takenPorts.insert(localPort);
  return s;
}

std::unique_ptr<TcpSocket> FakeNetwork::ConnectTcp(std::uint32_t address, std::uint16_t port,
                                                   SocketEvents& events) {
  ++tcpConnects;
  if (tcpCreateFails) return nullptr;
  auto s = std::make_unique<FakeTcpSocket>(*this, events, address, port);
  tcp.push_back(s.get());
  return s;
}

void FakeNetwork::Forget(FakeTcpSocket* s) { std::replace(tcp.begin(), tcp.end(), s, static_cast<FakeTcpSocket*>(nullptr)); }

void FakeNetwork::Forget(FakeUdpSocket* s) {
  takenPorts.erase(s->localPort);
  std::replace(udp.begin(), udp.end(), s, static_cast<FakeUdpSocket*>(nullptr));
}

}  // namespace tl::test
