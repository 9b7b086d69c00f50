// BSD sockets behind the platform's Network, with readiness from a Reactor.
#pragma once

#include "platform/core/platform.h"
#include "platform/core/reactor.h"

namespace tl {

class PosixNetwork : public Network {
 public:
  explicit PosixNetwork(Reactor& reactor);
  bool Startup(int major, int minor, int* grantedMajor, int* grantedMinor) override;
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t localPort, SocketEvents& events) override;
  std::vector<NetworkInterface> Interfaces() override;
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t address, std::uint16_t port,
                                        SocketEvents& events) override;
  long LastError() override { return lastError_; }

 private:
  Reactor& reactor_;
  long lastError_ = 0;
};

}  // namespace tl
