#include "platform/core/reactor_tcp_socket.h"

namespace tl {

ReactorTcpSocket::ReactorTcpSocket(Reactor& reactor, int descriptor, SocketEvents& events, bool connecting)
    : reactor_(reactor), descriptor_(descriptor), events_(events), connecting_(connecting) {
  UpdateWatch();
}

void ReactorTcpSocket::StopWatching() {
  if (watched_) reactor_.Unwatch(descriptor_);
  watched_ = false;
}

long ReactorTcpSocket::Read(void* buffer, std::size_t capacity) {
  if (broken_) return 0;
  Failure failure = Failure::kBroken;
  const long n = Receive(buffer, capacity, &failure);
  if (n > 0) return n;
  if (n == 0) {
    // The peer closed: stop watching, or the loop would spin on it.
    peerClosed_ = true;
    UpdateWatch();
    return 0;
  }
  if (failure == Failure::kWouldBlock) return 0;
  reset_ = failure == Failure::kReset;
  broken_ = true;
  UpdateWatch();
  return -1;
}

template <typename Writing>
long ReactorTcpSocket::Queue(Writing write) {
  if (broken_) return -1;
  const bool wasClosed = queue_.Closed();
  const long taken = write();
  if (queue_.Queued() > 0 || queue_.Closed() != wasClosed) UpdateWatch();
  return taken;
}

long ReactorTcpSocket::Write(const void* data, std::size_t length) {
  return Queue([&] { return queue_.Write(data, length, !connecting_, SendNow()); });
}

long ReactorTcpSocket::WriteShared(std::shared_ptr<const unsigned char> data, std::size_t length) {
  return Queue([&] { return queue_.WriteShared(std::move(data), length, !connecting_, SendNow()); });
}

void ReactorTcpSocket::MarkDead() {
  broken_ = true;
  UpdateWatch();
}

void ReactorTcpSocket::UpdateWatch() {
  const bool wantRead = !connecting_ && !peerClosed_ && !broken_;
  const bool wantWrite = !broken_ && !queue_.Closed() && (connecting_ || queue_.Queued() > 0);
  if (!wantRead && !wantWrite) {
    StopWatching();
    return;
  }
  reactor_.Watch(descriptor_, wantRead || connecting_, wantWrite,
                 [this](bool readable, bool writable) { OnReady(readable, writable); });
  watched_ = true;
}

void ReactorTcpSocket::OnReady(bool readable, bool writable) {
  if (connecting_) {
    if (!readable && !writable) return;
    const int error = ConnectError();
    connecting_ = false;
    if (error != 0) broken_ = true;
    UpdateWatch();
    events_.OnConnect(error);  // may destroy nothing: the owner outlives the call
    return;
  }
  if (writable) {
    queue_.Drain(SendNow());
    UpdateWatch();
  }
  if (readable && !peerClosed_ && !broken_) events_.OnReceive(0);
}

WriteQueue::Send ReactorTcpSocket::SendNow() {
  return [this](const unsigned char* data, std::size_t length) { return Send(data, length); };
}

}  // namespace tl
