#include "platform/win32/win32_network.h"

#include <iphlpapi.h>

#include <algorithm>

#include "platform/core/write_queue.h"

namespace tl {

namespace {

constexpr char kWindowClass[] = "TideloadSockets";
// One message number per socket, taken in turn from this range.
constexpr UINT kFirstSocketMessage = WM_APP + 1;
constexpr UINT kLastSocketMessage = 0xBFFF;
// What one send is handed at most.
constexpr std::size_t kLargestSend = 1u << 20;

sockaddr_in MakeAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

int SendLength(std::size_t length) { return static_cast<int>(std::min(length, kLargestSend)); }

class Win32UdpSocket : public UdpSocket, private Win32Network::Sink {
 public:
  Win32UdpSocket(Win32Network& network, SOCKET socket, SocketEvents& events)
      : network_(network), socket_(socket), events_(events), message_(network.Register(socket, *this)) {
    WSAAsyncSelect(socket_, network_.Window(), message_, FD_READ);
  }
  ~Win32UdpSocket() override {
    network_.Unregister(message_);
    closesocket(socket_);
  }

  bool EnableBroadcast() override {
    BOOL on = TRUE;
    return setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == 0;
  }

  long SendTo(const void* data, std::size_t length, std::uint32_t address, std::uint16_t port) override {
    sockaddr_in sa = MakeAddress(address, port);
    int n = sendto(socket_, static_cast<const char*>(data), SendLength(length), 0,
                   reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return n == SOCKET_ERROR ? -1 : n;
  }

  // Winsock 1.1 cannot name a send's interface; a limited broadcast goes
  // to the interface's own network broadcast instead, which the routing
  // table sends out of that interface, from its address.
  long SendToVia(unsigned via, const void* data, std::size_t length, std::uint32_t address,
                 std::uint16_t port) override {
    if (address == INADDR_BROADCAST) {
      address = network_.DirectedBroadcastOf(via);
      if (address == 0) return -1;
    }
    return SendTo(data, length, address, port);
  }

  // The arrival interface is not told by Winsock 1.1.
  long ReceiveFromOn(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                     std::uint16_t* fromPort, unsigned* arrivedOn) override {
    if (arrivedOn) *arrivedOn = 0;
    sockaddr_in sa{};
    int length = sizeof sa;
    int n = recvfrom(socket_, static_cast<char*>(buffer), SendLength(capacity), 0,
                     reinterpret_cast<sockaddr*>(&sa), &length);
    if (n == SOCKET_ERROR) {
      // WSAEMSGSIZE (a datagram larger than the buffer, cut) is an error;
      // nothing pending is not.
      return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
    }
    if (fromAddress) *fromAddress = ntohl(sa.sin_addr.s_addr);
    if (fromPort) *fromPort = ntohs(sa.sin_port);
    return n;
  }

 private:
  void OnSelect(WORD event, WORD error) override {
    if (event == FD_READ) events_.OnReceive(error);
  }

  Win32Network& network_;
  SOCKET socket_;
  SocketEvents& events_;
  UINT message_;
};

class Win32TcpSocket : public TcpSocket, private Win32Network::Sink {
 public:
  Win32TcpSocket(Win32Network& network, SOCKET socket, SocketEvents& events)
      : network_(network), socket_(socket), events_(events), message_(network.Register(socket, *this)) {
    Select();
  }
  ~Win32TcpSocket() override {
    network_.Unregister(message_);
    closesocket(socket_);
  }

  long Read(void* buffer, std::size_t capacity) override {
    if (broken_ || peerClosed_ || connecting_) return 0;
    int n = recv(socket_, static_cast<char*>(buffer), SendLength(capacity), 0);
    if (n > 0) return n;
    if (n == 0) {
      peerClosed_ = true;
      return 0;
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return 0;
    reset_ = error == WSAECONNRESET || error == WSAECONNABORTED;
    broken_ = true;
    Select();
    return -1;
  }

  long Write(const void* data, std::size_t length) override {
    return Queue([&] { return queue_.Write(data, length, !connecting_, SendNow()); });
  }
  long WriteShared(std::shared_ptr<const unsigned char> data, std::size_t length) override {
    return Queue([&] { return queue_.WriteShared(std::move(data), length, !connecting_, SendNow()); });
  }

  std::size_t Queued() const override { return queue_.Queued(); }
  bool ClosedByPeer() const override { return peerClosed_ || reset_; }

  // A connect that failed at once: the socket reports nothing, ever.
  void MarkDead() {
    broken_ = true;
    connecting_ = false;
    Select();
  }

  // A connect that completed at once: reported from the loop like any other.
  void PostConnected() {
    PostMessageA(network_.Window(), message_, static_cast<WPARAM>(socket_), WSAMAKESELECTREPLY(FD_CONNECT, 0));
  }

 private:
  // The events asked for: connect, bytes and the close always; write
  // readiness only while our own queue holds bytes.
  void Select() {
    long events = 0;
    if (!broken_) events = FD_CONNECT | FD_READ | FD_CLOSE;
    if (!broken_ && queue_.Queued() > 0) events |= FD_WRITE;
    if (events == selected_) return;
    selected_ = events;
    WSAAsyncSelect(socket_, network_.Window(), events != 0 ? message_ : 0, events);
  }

  void OnSelect(WORD event, WORD error) override {
    switch (event) {
      case FD_CONNECT: {
        if (!connecting_) return;
        connecting_ = false;
        int result = error;
        // A reset reported after the connect completed is no connect
        // failure: what the peer sent first is still to be read.
        if (result == WSAECONNRESET || result == WSAECONNABORTED) result = 0;
        if (result != 0) {
          broken_ = true;
          Select();
        } else if (queue_.Queued() > 0) {
          Drain();
        }
        events_.OnConnect(result);
        return;
      }
      case FD_READ:
        if (!broken_ && !peerClosed_ && !connecting_) events_.OnReceive(error);
        return;
      case FD_CLOSE:
        // Graceful or reset: the reads find what is left, then the end.
        if (!broken_ && !peerClosed_ && !connecting_) events_.OnReceive(0);
        return;
      case FD_WRITE:
        if (error != 0) {
          queue_.Close();
          Select();
        } else {
          Drain();
        }
        return;
      default:
        return;
    }
  }

  void Drain() {
    queue_.Drain(SendNow());
    Select();
    ResumeAfterTurn();
  }

  // One write through the queue; write readiness is asked for while bytes wait.
  template <typename Write>
  long Queue(Write write) {
    if (broken_) return -1;
    const long taken = write();
    Select();
    ResumeAfterTurn();
    return taken;
  }

  // FD_WRITE comes only after a refused send: a queue that stopped for its
  // turn with room left goes on with a message of our own.
  void ResumeAfterTurn() {
    if (queue_.PausedForTurn()) {
      PostMessageA(network_.Window(), message_, static_cast<WPARAM>(socket_), WSAMAKESELECTREPLY(FD_WRITE, 0));
    }
  }

  // One non-blocking send, as the write queue wants it.
  WriteQueue::Send SendNow() {
    return [this](const unsigned char* data, std::size_t length) -> long {
      int n = send(socket_, reinterpret_cast<const char*>(data), SendLength(length), 0);
      if (n > 0) return n;
      if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return 0;  // FD_WRITE follows
      return -1;  // reset or closed by the peer
    };
  }

  Win32Network& network_;
  SOCKET socket_;
  SocketEvents& events_;
  UINT message_;
  long selected_ = -1;
  bool connecting_ = true;
  bool peerClosed_ = false;
  bool broken_ = false;
  bool reset_ = false;
  WriteQueue queue_;
};

}  // namespace

Win32Network::Win32Network() : nextMessage_(kFirstSocketMessage) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &Win32Network::WindowProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassA(&windowClass);
  window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  if (window_ != nullptr) SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Network::~Win32Network() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (started_) WSACleanup();
}

bool Win32Network::Startup(int major, int minor, int* grantedMajor, int* grantedMinor) {
  WSADATA data{};
  int rc = WSAStartup(MAKEWORD(major, minor), &data);
  if (rc != 0 || window_ == nullptr) {
    lastError_ = rc;
    return false;
  }
  started_ = true;
  if (grantedMajor) *grantedMajor = LOBYTE(data.wVersion);
  if (grantedMinor) *grantedMinor = HIBYTE(data.wVersion);
  return true;
}

UINT Win32Network::Register(SOCKET socket, Sink& sink) {
  // The next free number; a number comes round again only after the whole
  // range has been used.
  UINT message = nextMessage_;
  for (UINT tries = kLastSocketMessage - kFirstSocketMessage + 1; tries > 0; --tries) {
    message = nextMessage_;
    nextMessage_ = nextMessage_ == kLastSocketMessage ? kFirstSocketMessage : nextMessage_ + 1;
    if (entries_.count(message) == 0) break;
  }
  entries_[message] = Entry{socket, &sink};
  return message;
}

void Win32Network::Unregister(UINT message) { entries_.erase(message); }

LRESULT CALLBACK Win32Network::WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= kFirstSocketMessage && message <= kLastSocketMessage) {
    if (auto* self = reinterpret_cast<Win32Network*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
      self->Deliver(message, wParam, lParam);
      return 0;
    }
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Win32Network::Deliver(UINT message, WPARAM wParam, LPARAM lParam) {
  auto it = entries_.find(message);
  // Left over from a closed socket, or meant for an earlier one.
  if (it == entries_.end() || it->second.socket != static_cast<SOCKET>(wParam)) return;
  it->second.sink->OnSelect(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
}

std::unique_ptr<UdpSocket> Win32Network::OpenUdp(std::uint16_t localPort, SocketEvents& events) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) {
    lastError_ = WSAGetLastError();
    return nullptr;
  }
  // No SO_REUSEADDR: a taken port must fail the bind.
  sockaddr_in sa = MakeAddress(INADDR_ANY, localPort);
  if (bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    lastError_ = WSAGetLastError();
    closesocket(s);
    return nullptr;
  }
  return std::make_unique<Win32UdpSocket>(*this, s, events);
}

namespace {

// Every adapter with its IPv4 addresses, from the IP helper.
std::vector<unsigned char> AdapterTable() {
  ULONG size = 0;
  std::vector<unsigned char> table;
  for (int attempt = 0; attempt < 3; ++attempt) {
    table.resize(size);
    auto* first = table.empty() ? nullptr : reinterpret_cast<IP_ADAPTER_INFO*>(table.data());
    const DWORD rc = GetAdaptersInfo(first, &size);
    if (rc == ERROR_SUCCESS) return table;
    if (rc != ERROR_BUFFER_OVERFLOW) break;
  }
  return {};
}

std::uint32_t ParseIpv4(const char* text) {
  const unsigned long address = inet_addr(text);
  return address == INADDR_NONE ? 0 : ntohl(address);
}

template <typename Fn>
void ForEachAdapter(Fn&& fn) {
  std::vector<unsigned char> table = AdapterTable();
  if (table.empty()) return;
  for (auto* a = reinterpret_cast<IP_ADAPTER_INFO*>(table.data()); a != nullptr; a = a->Next) {
    const std::uint32_t address = ParseIpv4(a->IpAddressList.IpAddress.String);
    if (address != 0) fn(*a, address, ParseIpv4(a->IpAddressList.IpMask.String));
  }
}

}  // namespace

std::vector<NetworkInterface> Win32Network::Interfaces() {
  std::vector<NetworkInterface> out;
  ForEachAdapter([&](const IP_ADAPTER_INFO& adapter, std::uint32_t address, std::uint32_t) {
    NetworkInterface i;
    i.name = adapter.AdapterName;
    i.id = static_cast<unsigned>(adapter.Index);
    i.address = address;
    MIB_IFROW row{};
    row.dwIndex = adapter.Index;
    i.up = GetIfEntry(&row) == NO_ERROR && (row.dwOperStatus == IF_OPER_STATUS_OPERATIONAL ||
                                           row.dwOperStatus == IF_OPER_STATUS_CONNECTED);
    i.canBroadcast = adapter.Type != MIB_IF_TYPE_LOOPBACK && adapter.Type != MIB_IF_TYPE_PPP;
    if (i.id != 0) out.push_back(i);
  });
  return out;
}

std::uint32_t Win32Network::DirectedBroadcastOf(unsigned interfaceId) {
  std::uint32_t broadcast = 0;
  ForEachAdapter([&](const IP_ADAPTER_INFO& adapter, std::uint32_t address, std::uint32_t mask) {
    if (broadcast == 0 && adapter.Index == interfaceId && mask != 0) broadcast = address | ~mask;
  });
  return broadcast;
}

std::unique_ptr<TcpSocket> Win32Network::ConnectTcp(std::uint32_t address, std::uint16_t port,
                                                    SocketEvents& events) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    lastError_ = WSAGetLastError();
    return nullptr;
  }
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  // Selecting the events makes the socket non-blocking before the connect.
  auto tcp = std::make_unique<Win32TcpSocket>(*this, s, events);
  sockaddr_in sa = MakeAddress(address, port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
    tcp->PostConnected();
  } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
    lastError_ = WSAGetLastError();
    tcp->MarkDead();
  }
  return tcp;
}

}  // namespace tl
