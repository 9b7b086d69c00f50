#include "platform/console/console_network.h"

namespace tl {

// Stands between the system's socket and its owner in both directions.
class ConsoleNetwork::Connection final : public TcpSocket, public SocketEvents {
 public:
  Connection(SocketEvents& owner, const Observer& observer) : owner_(owner), observer_(observer) {}

  void Attach(std::unique_ptr<TcpSocket> socket) { socket_ = std::move(socket); }

  void OnConnect(int error) override {
    if (error != 0) observer_(owner_, Event::kConnectFailed);
    owner_.OnConnect(error);
  }
  void OnReceive(int error) override {
    if (error != 0) observer_(owner_, Event::kReceiveFailed);
    owner_.OnReceive(error);
  }

  long Read(void* buffer, std::size_t capacity) override {
    const long n = socket_->Read(buffer, capacity);
    if (n <= 0 && !closeTold_ && socket_->ClosedByPeer()) {
      closeTold_ = true;
      observer_(owner_, Event::kClosedByPeer);
    }
    return n;
  }
  long Write(const void* data, std::size_t length) override {
    const long taken = socket_->Write(data, length);
    if (taken < 0 || static_cast<std::size_t>(taken) != length) observer_(owner_, Event::kWriteShort);
    return taken;
  }
  std::size_t Queued() const override { return socket_->Queued(); }
  bool ClosedByPeer() const override { return socket_->ClosedByPeer(); }

 private:
  SocketEvents& owner_;
  const Observer& observer_;
  std::unique_ptr<TcpSocket> socket_;
  bool closeTold_ = false;
};

ConsoleNetwork::ConsoleNetwork(Network& network, Observer observer)
    : network_(network), observer_(std::move(observer)) {}

bool ConsoleNetwork::Startup(int major, int minor, int* grantedMajor, int* grantedMinor) {
  return network_.Startup(major, minor, grantedMajor, grantedMinor);
}

std::unique_ptr<UdpSocket> ConsoleNetwork::OpenUdp(std::uint16_t localPort, SocketEvents& events) {
  return network_.OpenUdp(localPort, events);
}

std::unique_ptr<TcpSocket> ConsoleNetwork::ConnectTcp(std::uint32_t address, std::uint16_t port,
                                                      SocketEvents& events) {
  auto connection = std::make_unique<Connection>(events, observer_);
  std::unique_ptr<TcpSocket> socket = network_.ConnectTcp(address, port, *connection);
  if (socket == nullptr) return nullptr;
  connection->Attach(std::move(socket));
  return connection;
}

long ConsoleNetwork::LastError() { return network_.LastError(); }

}  // namespace tl
