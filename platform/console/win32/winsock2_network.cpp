#include "platform/console/win32/winsock2_network.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <mswsock.h>

#include <algorithm>
#include <cstring>

#include "platform/core/reactor_tcp_socket.h"
#include "platform/headless/win32/socket_descriptor.h"
#include "platform/win32/utf16.h"

namespace tl {

namespace {

// What one send or receive is handed at most.
constexpr std::size_t kLargestPiece = 1u << 20;
// An update connection's send buffer in the system.
constexpr int kSendBuffer = 64 * 1024;
constexpr ULONG kAdapterFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;

int PieceLength(std::size_t length) { return static_cast<int>(std::min(length, kLargestPiece)); }

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

// The interface a send goes out of (0: as the routing table says); the
// option takes the index in network order.
bool SendOutOf(SOCKET s, unsigned interfaceId) {
  const DWORD index = htonl(interfaceId);
  return setsockopt(s, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&index), sizeof index) == 0;
}

class Winsock2UdpSocket : public UdpSocket {
 public:
  Winsock2UdpSocket(Reactor& reactor, SOCKET socket, SocketEvents& events, LPFN_WSARECVMSG receive)
      : reactor_(reactor), socket_(socket), receive_(receive) {
    reactor_.Watch(DescriptorOf(socket_), true, false, [&events](bool, bool) { events.OnReceive(0); });
  }
  ~Winsock2UdpSocket() override {
    reactor_.Unwatch(DescriptorOf(socket_));
    closesocket(socket_);
  }

  bool EnableBroadcast() override {
    BOOL on = TRUE;
    return setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0;
  }

  long SendTo(const void* data, std::size_t length, std::uint32_t address, std::uint16_t port) override {
    const sockaddr_in sa = MakeAddress(address, port);
    const int n = sendto(socket_, static_cast<const char*>(data), PieceLength(length), 0,
                         reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return n == SOCKET_ERROR ? -1 : n;
  }

  long SendToVia(unsigned via, const void* data, std::size_t length, std::uint32_t address,
                 std::uint16_t port) override {
    if (via == 0) return SendTo(data, length, address, port);
    if (!SendOutOf(socket_, via)) return -1;
    const long n = SendTo(data, length, address, port);
    const int error = WSAGetLastError();
    SendOutOf(socket_, 0);
    WSASetLastError(error);  // the send's, for whoever asks
    return n;
  }

  long ReceiveFromOn(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                     std::uint16_t* fromPort, unsigned* arrivedOn) override {
    sockaddr_in sa{};
    WSABUF data{static_cast<ULONG>(PieceLength(capacity)), static_cast<char*>(buffer)};
    char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&sa);
    message.namelen = sizeof sa;
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control = WSABUF{sizeof control, control};
    DWORD n = 0;
    int rc = 0;
    if (receive_ != nullptr) {
      rc = receive_(socket_, &message, &n, nullptr, nullptr);
    } else {
      // No WSARecvMsg: where the datagram came in stays unknown.
      message.Control.len = 0;
      int length = sizeof sa;
      rc = recvfrom(socket_, data.buf, static_cast<int>(data.len), 0, message.name, &length);
      n = rc == SOCKET_ERROR ? 0 : static_cast<DWORD>(rc);
    }
    // WSAEMSGSIZE: a datagram larger than the buffer, cut, is an error.
    if (rc == SOCKET_ERROR) return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    if (fromAddress) *fromAddress = ntohl(sa.sin_addr.s_addr);
    if (fromPort) *fromPort = ntohs(sa.sin_port);
    if (arrivedOn) {
      *arrivedOn = 0;
      if (message.Control.len > 0) {
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr; c = WSA_CMSG_NXTHDR(&message, c)) {
          if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
          IN_PKTINFO info;
          std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
          *arrivedOn = static_cast<unsigned>(info.ipi_ifindex);
        }
      }
    }
    return static_cast<long>(n);
  }

 private:
  Reactor& reactor_;
  SOCKET socket_;
  LPFN_WSARECVMSG receive_;
};

class Winsock2TcpSocket final : public ReactorTcpSocket {
 public:
  Winsock2TcpSocket(Reactor& reactor, SOCKET socket, SocketEvents& events, bool connecting)
      : ReactorTcpSocket(reactor, DescriptorOf(socket), events, connecting), socket_(socket) {}
  ~Winsock2TcpSocket() override {
    StopWatching();
    closesocket(socket_);
  }

 private:
  long Receive(void* buffer, std::size_t capacity, Failure* failure) override {
    const int n = recv(socket_, static_cast<char*>(buffer), PieceLength(capacity), 0);
    if (n >= 0) return n;
    const int error = WSAGetLastError();
    *failure = error == WSAEWOULDBLOCK                             ? Failure::kWouldBlock
               : error == WSAECONNRESET || error == WSAECONNABORTED ? Failure::kReset
                                                                    : Failure::kBroken;
    return -1;
  }

  long Send(const unsigned char* data, std::size_t length) override {
    const int n = send(socket_, reinterpret_cast<const char*>(data), PieceLength(length), 0);
    if (n > 0) return n;
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    return -1;  // reset or closed by the peer
  }

  int ConnectError() override {
    int error = 0;
    int length = sizeof error;
    getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    // A reset before we first looked comes after a completed connect (a
    // refused one is WSAECONNREFUSED): what the peer sent is still there to
    // be read, and the connect did not fail.
    return error == WSAECONNRESET || error == WSAECONNABORTED ? 0 : error;
  }

  SOCKET socket_;
};

// Every adapter with its addresses, from the IP helper.
std::vector<unsigned char> AdapterTable() {
  ULONG size = 16 * 1024;
  std::vector<unsigned char> table;
  for (int attempt = 0; attempt < 3; ++attempt) {
    table.resize(size);
    const ULONG rc = GetAdaptersAddresses(AF_INET, kAdapterFlags, nullptr,
                                          reinterpret_cast<IP_ADAPTER_ADDRESSES*>(table.data()), &size);
    if (rc == ERROR_SUCCESS) return table;
    if (rc != ERROR_BUFFER_OVERFLOW) break;
  }
  return {};
}

}  // namespace

Winsock2Network::Winsock2Network(Reactor& reactor) : reactor_(reactor) {
  WSADATA data{};
  started_ = WSAStartup(MAKEWORD(2, 2), &data);
  if (started_ == 0) version_ = data.wVersion;
}

Winsock2Network::~Winsock2Network() {
  if (started_ == 0) WSACleanup();
}

bool Winsock2Network::Startup(int, int, int* grantedMajor, int* grantedMinor) {
  if (started_ != 0) {
    lastError_ = started_;
    return false;
  }
  if (grantedMajor) *grantedMajor = LOBYTE(version_);
  if (grantedMinor) *grantedMinor = HIBYTE(version_);
  return true;
}

std::unique_ptr<UdpSocket> Winsock2Network::OpenUdp(std::uint16_t localPort, SocketEvents& events) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    lastError_ = WSAGetLastError();
    return nullptr;
  }
  // No SO_REUSEADDR: a taken port must fail the bind. IP_PKTINFO: every
  // datagram says on which interface it arrived.
  const sockaddr_in sa = MakeAddress(INADDR_ANY, localPort);
  DWORD on = 1;
  if (bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || !SetNonBlocking(s) ||
      setsockopt(s, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    lastError_ = WSAGetLastError();
    closesocket(s);
    return nullptr;
  }
  // A port unreachable for an earlier send must not fail the next receive.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  GUID receiveId = WSAID_WSARECVMSG;
  LPFN_WSARECVMSG receive = nullptr;
  if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &receiveId, sizeof receiveId, &receive, sizeof receive,
               &returned, nullptr, nullptr) != 0) {
    receive = nullptr;
  }
  return std::make_unique<Winsock2UdpSocket>(reactor_, s, events, receive);
}

std::vector<NetworkInterface> Winsock2Network::Interfaces() {
  std::vector<NetworkInterface> out;
  std::vector<unsigned char> table = AdapterTable();
  if (table.empty()) return out;
  for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data()); a != nullptr; a = a->Next) {
    const IP_ADAPTER_UNICAST_ADDRESS* first = a->FirstUnicastAddress;
    while (first != nullptr && first->Address.lpSockaddr->sa_family != AF_INET) first = first->Next;
    if (first == nullptr || a->IfIndex == 0) continue;
    NetworkInterface i;
    i.name = WideToUtf8(a->FriendlyName);
    i.id = static_cast<unsigned>(a->IfIndex);
    i.address = ntohl(reinterpret_cast<const sockaddr_in*>(first->Address.lpSockaddr)->sin_addr.s_addr);
    i.up = a->OperStatus == IfOperStatusUp;
    i.canBroadcast =
        a->IfType != IF_TYPE_SOFTWARE_LOOPBACK && a->IfType != IF_TYPE_PPP && a->IfType != IF_TYPE_TUNNEL;
    out.push_back(i);
  }
  return out;
}

std::unique_ptr<TcpSocket> Winsock2Network::ConnectTcp(std::uint32_t address, std::uint16_t port,
                                                       SocketEvents& events) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET || !SetNonBlocking(s)) {
    lastError_ = WSAGetLastError();
    if (s != INVALID_SOCKET) closesocket(s);
    return nullptr;
  }
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  // The send buffer Windows starts with, kept: what a module that stopped
  // reading leaves in the system stays small, and the session sees it stop
  // soon (Wine's host would let it grow to megabytes, one answer at a time).
  int sendBuffer = kSendBuffer;
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer), sizeof sendBuffer);
  const sockaddr_in sa = MakeAddress(address, port);
  // Done at once or under way, completion is reported from the loop like
  // any other.
  if (connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 || WSAGetLastError() == WSAEWOULDBLOCK) {
    return std::make_unique<Winsock2TcpSocket>(reactor_, s, events, true);
  }
  // Failed at once: a socket that never reports anything.
  lastError_ = WSAGetLastError();
  auto dead = std::make_unique<Winsock2TcpSocket>(reactor_, s, events, false);
  dead->MarkDead();
  return dead;
}

}  // namespace tl
