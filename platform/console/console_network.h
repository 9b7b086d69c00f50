// The host's network with a watch on every TCP connection, for the console:
// what the core does not look at (a write that fell short, a connection the
// module closed or reset) and where the program's own lines come from (a
// failed connect or receive) are told to an observer as they happen.
#pragma once

#include <functional>
#include <memory>

#include "platform/core/platform.h"

namespace tl {

class ConsoleNetwork final : public Network {
 public:
  enum class Event {
    kConnectFailed,  // told before the connect's owner hears of it
    kReceiveFailed,  // the same, for an error with read readiness
    kWriteShort,     // a write took fewer bytes than it was given
    kClosedByPeer,   // a read found the connection closed or reset; told once
  };
  // owner: the SocketEvents the connection was made for.
  using Observer = std::function<void(SocketEvents& owner, Event event)>;

  ConsoleNetwork(Network& network, Observer observer);

  bool Startup(int major, int minor, int* grantedMajor, int* grantedMinor) override;
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t localPort, SocketEvents& events) override;
  std::vector<NetworkInterface> Interfaces() override { return network_.Interfaces(); }
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t address, std::uint16_t port,
                                        SocketEvents& events) override;
  long LastError() override;

 private:
  class Connection;
  Network& network_;
  Observer observer_;
};

}  // namespace tl
