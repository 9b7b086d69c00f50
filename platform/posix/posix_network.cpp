#include "platform/posix/posix_network.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/core/reactor_tcp_socket.h"

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
    return SendToVia(0, data, length, address, port);
  }

  // The outgoing interface rides in an IP_PKTINFO message: unlike binding
  // the socket to a device, it needs no privileges.
  long SendToVia(unsigned via, const void* data, std::size_t length, std::uint32_t address,
                 std::uint16_t port) override {
    sockaddr_in sa = MakeAddress(address, port);
    iovec iov{const_cast<void*>(data), length};
    msghdr msg{};
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (via != 0) {
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&msg);
      c->cmsg_level = IPPROTO_IP;
      c->cmsg_type = IP_PKTINFO;
      c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
      in_pktinfo info{};
      info.ipi_ifindex = static_cast<int>(via);
      std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    ssize_t n = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<long>(n);
  }

  long ReceiveFromOn(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                     std::uint16_t* fromPort, unsigned* arrivedOn) override {
    sockaddr_in sa{};
    iovec iov{buffer, capacity};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    // MSG_TRUNC makes the call report the datagram's real length, so a
    // datagram larger than the buffer is detected instead of taken cut.
    ssize_t n = ::recvmsg(fd_, &msg, MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    if (static_cast<std::size_t>(n) > capacity) return -1;
    if (fromAddress) *fromAddress = ntohl(sa.sin_addr.s_addr);
    if (fromPort) *fromPort = ntohs(sa.sin_port);
    if (arrivedOn) {
      *arrivedOn = 0;
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        *arrivedOn = static_cast<unsigned>(info.ipi_ifindex);
      }
    }
    return static_cast<long>(n);
  }

 private:
  Reactor& reactor_;
  int fd_;
};

class PosixTcpSocket final : public ReactorTcpSocket {
 public:
  PosixTcpSocket(Reactor& reactor, int fd, SocketEvents& events, bool connecting)
      : ReactorTcpSocket(reactor, fd, events, connecting), fd_(fd) {}
  ~PosixTcpSocket() override {
    StopWatching();
    ::close(fd_);
  }

 private:
  long Receive(void* buffer, std::size_t capacity, Failure* failure) override {
    const ssize_t n = ::recv(fd_, buffer, capacity, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    *failure = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Failure::kWouldBlock
               : errno == ECONNRESET                                     ? Failure::kReset
                                                                         : Failure::kBroken;
    return -1;
  }

  long Send(const unsigned char* data, std::size_t length) override {
    for (;;) {
      const ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) return static_cast<long>(n);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
      return -1;  // reset or closed by the peer
    }
  }

  int ConnectError() override {
    int error = 0;
    socklen_t len = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len);
    // A reset before we first looked comes after a completed connect (a
    // refused one is ECONNREFUSED): what the peer sent is still there to be
    // read, and the connect did not fail.
    return error == ECONNRESET || error == EPIPE ? 0 : error;
  }

  int fd_;
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
  // IP_PKTINFO: every datagram says on which interface it arrived.
  sockaddr_in sa = MakeAddress(INADDR_ANY, localPort);
  int on = 1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || !SetNonBlocking(fd) ||
      ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
    lastError_ = errno;
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixUdpSocket>(reactor_, fd, events);
}

std::vector<NetworkInterface> PosixNetwork::Interfaces() {
  std::vector<NetworkInterface> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    lastError_ = errno;
    return out;
  }
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    // An address label ("eth0:1") names its interface before the colon.
    std::string name = a->ifa_name;
    name.erase(std::min(name.find(':'), name.size()));
    const unsigned id = ::if_nametoindex(name.c_str());
    if (id == 0) continue;
    bool known = false;
    for (const NetworkInterface& i : out) known = known || i.id == id;
    if (known) continue;
    NetworkInterface i;
    i.name = name;
    i.id = id;
    i.address = ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
    i.up = (a->ifa_flags & IFF_UP) != 0 && (a->ifa_flags & IFF_RUNNING) != 0;
    i.canBroadcast = (a->ifa_flags & IFF_BROADCAST) != 0 && (a->ifa_flags & IFF_LOOPBACK) == 0 &&
                     (a->ifa_flags & IFF_POINTOPOINT) == 0;
    out.push_back(i);
  }
  ::freeifaddrs(list);
  return out;
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
