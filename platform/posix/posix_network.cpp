#include "platform/posix/posix_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

namespace tl {

namespace {

bool SetNonBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

class PosixUdpSocket : public UdpSocket {
 public:
  PosixUdpSocket(Reactor& reactor, int fd, SocketEvents& events) : reactor_(reactor), fd_(fd) {
    reactor_.Watch(fd_, true, false, [&events](bool, bool) { events.OnReceive(0); });
  }
  ~PosixUdpSocket() override {
    reactor_.Unwatch(fd_);
    ::close(fd_);
  }

  bool EnableBroadcast() override {
    int on = 1;
    return ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
  }

  long SendTo(const void* data, std::size_t length, std::uint32_t address,
              std::uint16_t port) override {
    sockaddr_in sa = MakeAddress(address, port);
    ssize_t n = ::sendto(fd_, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return n < 0 ? -1 : static_cast<long>(n);
  }

  long ReceiveFrom(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                   std::uint16_t* fromPort) override {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    // MSG_TRUNC makes the call report the datagram's real length, so a
    // datagram larger than the buffer is detected instead of taken cut.
    ssize_t n = ::recvfrom(fd_, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&sa), &len);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    if (static_cast<std::size_t>(n) > capacity) return -1;
    if (fromAddress) *fromAddress = ntohl(sa.sin_addr.s_addr);
    if (fromPort) *fromPort = ntohs(sa.sin_port);
    return static_cast<long>(n);
  }

 private:
  Reactor& reactor_;
  int fd_;
};

class PosixTcpSocket : public TcpSocket {
 public:
  PosixTcpSocket(Reactor& reactor, int fd, SocketEvents& events, bool connecting)
      : reactor_(reactor), fd_(fd), events_(events), connecting_(connecting) {
    UpdateWatch();
  }
  ~PosixTcpSocket() override {
    if (watched_) reactor_.Unwatch(fd_);
    ::close(fd_);
  }

  long Read(void* buffer, std::size_t capacity) override {
    if (broken_) return 0;
    ssize_t n = ::recv(fd_, buffer, capacity, MSG_DONTWAIT);
    if (n > 0) return static_cast<long>(n);
    if (n == 0) {
      // The peer closed: stop watching, or the loop would spin on it.
      peerClosed_ = true;
      UpdateWatch();
      return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    reset_ = errno == ECONNRESET;
    broken_ = true;
    UpdateWatch();
    return -1;
  }

  long Write(const void* data, std::size_t length) override {
    if (broken_ || writeClosed_) return -1;
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t sent = 0;
    if (queue_.empty() && !connecting_) {
      while (sent < length) {
        ssize_t n = ::send(fd_, bytes + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
          sent += static_cast<std::size_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        writeClosed_ = true;
        queue_.clear();
        UpdateWatch();
        return sent > 0 ? static_cast<long>(sent) : -1;
      }
    }
    if (sent < length) {
      queue_.emplace_back(bytes + sent, bytes + length);
      queued_ += length - sent;
      UpdateWatch();
    }
    return static_cast<long>(length);
  }

  std::size_t Queued() const override { return queued_; }
  bool ClosedByPeer() const override { return peerClosed_ || reset_; }

  // A socket whose connect failed at once reports nothing, ever.
  void MarkDead() {
    broken_ = true;
    UpdateWatch();
  }

 private:
  void UpdateWatch() {
    bool wantRead = !connecting_ && !peerClosed_ && !broken_;
    bool wantWrite = !broken_ && !writeClosed_ && (connecting_ || queued_ > 0);
    if (!wantRead && !wantWrite) {
      if (watched_) reactor_.Unwatch(fd_);
      watched_ = false;
      return;
    }
    reactor_.Watch(fd_, wantRead || connecting_, wantWrite,
                   [this](bool readable, bool writable) { OnReady(readable, writable); });
    watched_ = true;
  }

  void OnReady(bool readable, bool writable) {
    if (connecting_) {
      if (!readable && !writable) return;
      int error = 0;
      socklen_t len = sizeof error;
      ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len);
      connecting_ = false;
      // A reset before we first looked comes after a completed connect (a
      // refused one is ECONNREFUSED): what the peer sent is still there to
      // be read, and the connect did not fail.
      if (error == ECONNRESET || error == EPIPE) error = 0;
      if (error != 0) broken_ = true;
      UpdateWatch();
      events_.OnConnect(error);  // may destroy nothing: the owner outlives the call
      return;
    }
    if (writable) Drain();
    if (readable && !peerClosed_ && !broken_) events_.OnReceive(0);
  }

  void Drain() {
    while (!queue_.empty()) {
      std::vector<unsigned char>& front = queue_.front();
      ssize_t n = ::send(fd_, front.data() + frontSent_, front.size() - frontSent_,
                         MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        frontSent_ += static_cast<std::size_t>(n);
        queued_ -= static_cast<std::size_t>(n);
        if (frontSent_ == front.size()) {
          queue_.pop_front();
          frontSent_ = 0;
        }
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      // Reset or closed by the peer: what is queued can never go.
      writeClosed_ = true;
      queue_.clear();
      queued_ = 0;
      frontSent_ = 0;
      break;
    }
    UpdateWatch();
  }

  Reactor& reactor_;
  int fd_;
  SocketEvents& events_;
  bool connecting_;
  bool watched_ = false;
  bool peerClosed_ = false;
  bool writeClosed_ = false;
  bool broken_ = false;
  bool reset_ = false;
  std::deque<std::vector<unsigned char>> queue_;
  std::size_t frontSent_ = 0;
  std::size_t queued_ = 0;
};

}  // namespace

PosixNetwork::PosixNetwork(Reactor& reactor) : reactor_(reactor) {}

bool PosixNetwork::Startup(int major, int minor, int* grantedMajor, int* grantedMinor) {
  // A module that resets the connection must never kill the program.
  ::signal(SIGPIPE, SIG_IGN);
  if (grantedMajor) *grantedMajor = major;
  if (grantedMinor) *grantedMinor = minor;
  return true;
}

std::unique_ptr<UdpSocket> PosixNetwork::OpenUdp(std::uint16_t localPort, SocketEvents& events) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    lastError_ = errno;
    return nullptr;
  }
  // No SO_REUSEADDR / SO_REUSEPORT: a taken port must fail the bind.
  sockaddr_in sa = MakeAddress(INADDR_ANY, localPort);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || !SetNonBlocking(fd)) {
    lastError_ = errno;
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixUdpSocket>(reactor_, fd, events);
}

std::unique_ptr<TcpSocket> PosixNetwork::ConnectTcp(std::uint32_t address, std::uint16_t port,
                                                    SocketEvents& events) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || !SetNonBlocking(fd)) {
    lastError_ = errno;
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in sa = MakeAddress(address, port);
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (rc == 0) {
    auto socket = std::make_unique<PosixTcpSocket>(reactor_, fd, events, true);
    return socket;  // completion is reported from the loop like any other
  }
  if (errno == EINPROGRESS) return std::make_unique<PosixTcpSocket>(reactor_, fd, events, true);
  // Failed at once: a socket that never reports anything.
  lastError_ = errno;
  auto dead = std::make_unique<PosixTcpSocket>(reactor_, fd, events, false);
  dead->MarkDead();
  return dead;
}

}  // namespace tl
