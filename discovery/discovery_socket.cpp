#include "discovery/discovery_socket.h"

namespace tl {

DiscoverySocket::DiscoverySocket(ReplySink& owner) : owner_(owner) {
  Network* network = CurrentHost().network;
  std::unique_ptr<UdpSocket> socket;
  std::uint16_t port = 0;
  if (network != nullptr) {
    for (std::uint16_t candidate : {kDiscoveryPort, kDiscoveryPortAlternative}) {
      socket = network->OpenUdp(candidate, *this);
      if (socket) {
        port = candidate;
        break;
      }
    }
  }
  if (!socket || !socket->EnableBroadcast()) {
    ShowMessage("Unable to Bind socket, is Tideload already open?");
    return;
  }
  socket_ = std::move(socket);
  localPort_ = port;
}

DiscoverySocket::~DiscoverySocket() = default;

void DiscoverySocket::sendSearch() {
  if (!socket_) return;
  const auto request = BuildSearchRequest();
  socket_->SendTo(request.data(), request.size(), destinationAddress_, destinationPort_);
}

void DiscoverySocket::sendHeardList(const DeviceRecord* first) {
  const std::size_t length = BuildHeardList(first, heardList_);
  if (!socket_) return;
  socket_->SendTo(heardList_.data(), length, destinationAddress_, destinationPort_);
}

void DiscoverySocket::OnReceive(int error) {
  if (error != 0 || !socket_) return;
  std::uint32_t from = 0;
  std::uint16_t fromPort = 0;
  const long n = socket_->ReceiveFrom(receiveBuffer_.data(), receiveBuffer_.size(), &from, &fromPort);
  if (n <= 0) return;
  Reply reply;
  if (!DecodeReply(receiveBuffer_.data(), static_cast<std::size_t>(n), from, reply)) return;
  owner_.addReply(reply.nameText, reply.appText, reply.sourceAddress, reply.infoBlock);
}

}  // namespace tl
