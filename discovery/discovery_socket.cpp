#include "discovery/discovery_socket.h"

namespace tl {

DiscoverySocket::DiscoverySocket(ReplySink& owner, std::vector<SearchDestination> destinations)
    : owner_(owner), destinations_(std::move(destinations)) {
  Network* network = CurrentHost().network;
  std::unique_ptr<UdpSocket> socket;
  if (network != nullptr) {
    for (std::uint16_t candidate : {kDiscoveryPort, kDiscoveryPortAlternative}) {
      socket = network->OpenUdp(candidate, *this);
      if (socket) break;
    }
  }
  if (!socket || !socket->EnableBroadcast()) {
    ShowMessage("Unable to Bind socket, is Tideload already open?");
    return;
  }
  socket_ = std::move(socket);
}

DiscoverySocket::~DiscoverySocket() = default;

void DiscoverySocket::SendToEach(const std::uint8_t* data, std::size_t length) {
  for (const SearchDestination& d : destinations_) {
    if (d.via == 0) {
      socket_->SendTo(data, length, d.address, destinationPort_);
    } else {
      socket_->SendToVia(d.via, data, length, d.address, destinationPort_);
    }
  }
}

void DiscoverySocket::sendSearch() {
  if (!socket_) return;
  const auto request = BuildSearchRequest();
  SendToEach(request.data(), request.size());
}

void DiscoverySocket::sendHeardList(const DeviceRecord* first) {
  const std::size_t length = BuildHeardList(first, heardList_);
  if (!socket_) return;
  SendToEach(heardList_.data(), length);
}

void DiscoverySocket::OnReceive(int error) {
  if (error != 0 || !socket_) return;
  std::uint32_t from = 0;
  std::uint16_t fromPort = 0;
  unsigned arrivedOn = 0;
  const long n = socket_->ReceiveFromOn(receiveBuffer_.data(), receiveBuffer_.size(), &from,
                                        &fromPort, &arrivedOn);
  if (n <= 0) return;
  Reply reply;
  if (!DecodeReply(receiveBuffer_.data(), static_cast<std::size_t>(n), from, reply)) return;
  reply.arrivedOn = arrivedOn;
  owner_.addReply(reply);
}

}  // namespace tl
