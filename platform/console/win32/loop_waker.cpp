#include "platform/console/win32/loop_waker.h"

#include "platform/headless/win32/socket_descriptor.h"

namespace tl {

LoopWaker::LoopWaker(EventLoop& loop, std::function<void()> onWake) : loop_(loop), onWake_(std::move(onWake)) {
  WSADATA data{};
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!started_) return;
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof self;
  u_long nonBlocking = 1;
  // Bound to a port the system picks, then connected to itself: it hears
  // nobody else.
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
      connect(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    if (s != INVALID_SOCKET) closesocket(s);
    return;
  }
  socket_ = s;
  loop_.Watch(DescriptorOf(socket_), true, false, [this](bool readable, bool) {
    if (!readable) return;
    char drained[64];
    while (recv(socket_, drained, sizeof drained, 0) > 0) {
    }
    onWake_();
  });
}

LoopWaker::~LoopWaker() {
  if (socket_ != INVALID_SOCKET) {
    loop_.Unwatch(DescriptorOf(socket_));
    closesocket(socket_);
  }
  if (started_) WSACleanup();
}

void LoopWaker::Wake() {
  const char byte = 1;
  send(socket_, &byte, 1, 0);  // a full buffer: a wake is pending already
}

}  // namespace tl
