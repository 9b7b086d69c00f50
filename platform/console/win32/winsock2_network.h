// Windows Sockets 2 behind the platform's Network: non-blocking sockets whose
// readiness comes from a Reactor (the console's select() loop). A search
// goes out of the interface it names (IP_UNICAST_IF), from that interface's
// address, and each datagram tells the interface it came in on (IP_PKTINFO
// through WSARecvMsg). Interfaces are the system's adapters, by their
// friendly names.
#pragma once

#include "platform/core/platform.h"
#include "platform/core/reactor.h"

namespace tl {

class Winsock2Network : public Network {
 public:
  explicit Winsock2Network(Reactor& reactor);  // starts Winsock 2.2
  ~Winsock2Network() override;
  Winsock2Network(const Winsock2Network&) = delete;
  Winsock2Network& operator=(const Winsock2Network&) = delete;

  // Reports the version Winsock granted, whatever was asked.
  bool Startup(int major, int minor, int* grantedMajor, int* grantedMinor) override;
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t localPort, SocketEvents& events) override;
  std::vector<NetworkInterface> Interfaces() override;
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t address, std::uint16_t port,
                                        SocketEvents& events) override;
  long LastError() override { return lastError_; }

 private:
  Reactor& reactor_;
  int started_ = -1;  // WSAStartup's result
  unsigned short version_ = 0;
  long lastError_ = 0;
};

}  // namespace tl
