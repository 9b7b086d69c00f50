// The platform layer: everything the portable core needs from the system.
// Hosts (Qt, console, tests) implement these interfaces and install them
// with SetHost() before any dialog runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tl {

class Dialog;

// ---------------------------------------------------------------- user interface

struct OpenFileRequest {
  std::string initialDirectory;   // empty: the platform's default
  std::string filterDescription;  // e.g. "Application Files *_APP.s19"
  std::string filterPattern;      // e.g. "*_APP.s19"
};

class Ui {
 public:
  virtual ~Ui() = default;
  // Creates the dialog's window from its layout, attaches it, calls
  // OnInitDialog and runs a nested modal loop until the dialog is ended.
  // Returns the result it was ended with. When the dialog ends during
  // OnInitDialog the loop never starts.
  virtual int RunModal(Dialog& dialog) = 0;
  // A modal box with one OK button, an exclamation icon and the program's
  // title as caption; returns when the user has closed it.
  virtual void ShowMessageBox(std::string_view text) = 0;
  // The confirmed file's full path, or nothing when the user cancelled.
  virtual std::optional<std::string> OpenFile(const OpenFileRequest& request) = 0;
  // The executable's file name without its extension.
  virtual std::string ProgramTitle() = 0;
};

// ---------------------------------------------------------------- network
// Addresses are IPv4 in host order, first octet in the most significant byte.

class SocketEvents {
 public:
  virtual void OnConnect(int /*error*/) {}
  virtual void OnReceive(int /*error*/) {}

 protected:
  ~SocketEvents() = default;
};

// A local network interface that has an IPv4 address.
struct NetworkInterface {
  std::string name;           // the system's name for it ("eth1")
  unsigned id = 0;            // the system's number for it; never 0
  std::uint32_t address = 0;  // its first IPv4 address
  bool up = false;            // operationally up: it carries traffic now
  bool canBroadcast = false;  // a broadcast medium: not loopback, not point-to-point
};

class UdpSocket {
 public:
  virtual ~UdpSocket() = default;
  virtual bool EnableBroadcast() = 0;
  // Returns the bytes sent, or -1.
  virtual long SendTo(const void* data, std::size_t length, std::uint32_t address,
                      std::uint16_t port) = 0;
  // Sends out of the local interface `via` (an id from Network::Interfaces),
  // from that interface's address, whatever interface the routing table
  // would pick: a broadcast to 255.255.255.255 reaches that interface's
  // network and no other. Needs no privileges. Returns the bytes sent, or -1.
  virtual long SendToVia(unsigned via, const void* data, std::size_t length,
                         std::uint32_t address, std::uint16_t port) = 0;
  // One datagram. Returns its length, 0 when none is pending, or -1 on an
  // error, including a datagram larger than the buffer (never a cut one).
  // Tells where it came from and, where the out-parameter is given, the id
  // of the local interface it arrived on (0 when the system cannot tell).
  virtual long ReceiveFromOn(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                             std::uint16_t* fromPort, unsigned* arrivedOn) = 0;
};

class TcpSocket {
 public:
  virtual ~TcpSocket() = default;
  // Returns the bytes read (> 0), 0 when nothing is pending or the peer has
  // closed, or -1 on an error.
  virtual long Read(void* buffer, std::size_t capacity) = 0;
  // Takes all bytes: what the connection cannot take now is queued and sent
  // as it drains. Returns the count taken, or -1 when the connection is gone.
  virtual long Write(const void* data, std::size_t length) = 0;
  // The same for bytes that stay unchanged while data is held: a host may
  // queue them by reference instead of copying them.
  virtual long WriteShared(std::shared_ptr<const unsigned char> data, std::size_t length) {
    return Write(data.get(), length);
  }
  // Bytes taken by Write but not yet handed to the system.
  virtual std::size_t Queued() const = 0;
  // A read has found the connection closed or reset by the peer. Hosts that
  // cannot tell say false; nothing in the core asks.
  virtual bool ClosedByPeer() const { return false; }
};

class Network {
 public:
  virtual ~Network() = default;
  // Starts the sockets layer; reports the version granted.
  virtual bool Startup(int major, int minor, int* grantedMajor, int* grantedMinor) = 0;
  // A UDP socket bound to the local port on all addresses, not shared with
  // any other socket. Null on failure. Read readiness goes to events.
  virtual std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t localPort, SocketEvents& events) = 0;
  // Every local interface with an IPv4 address, each once, in the system's
  // order, whether up or not.
  virtual std::vector<NetworkInterface> Interfaces() = 0;
  // Creates a non-blocking TCP socket and starts the connect. Null when the
  // socket cannot be created (LastError() tells why). A connect that fails
  // at once gives a socket that never reports anything.
  virtual std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t address, std::uint16_t port,
                                                SocketEvents& events) = 0;
  virtual long LastError() = 0;
};

// ---------------------------------------------------------------- registry

enum RegistryType : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegBinary = 3,
  kRegDword = 4,
};

class Registry {
 public:
  using Key = std::uintptr_t;  // 0: no key
  static constexpr Key kLocalMachine = 0x80000002u;
  static constexpr long kSuccess = 0;
  static constexpr long kFileNotFound = 2;
  static constexpr long kAccessDenied = 5;
  static constexpr long kInvalidHandle = 6;
  static constexpr long kMoreData = 234;

  virtual ~Registry() = default;
  // Creates the key by path (any missing keys on the way) or opens it.
  virtual long CreateKey(Key parent, std::string_view path, Key* result) = 0;
  // Opens an existing key without creating it.
  virtual long OpenKey(Key parent, std::string_view path, Key* result) = 0;
  // Type and size of a value's data.
  virtual long QueryValueSize(Key key, std::string_view name, std::uint32_t* type,
                              std::size_t* size) = 0;
  // Reads a value's data; kMoreData when it is larger than capacity.
  virtual long QueryValue(Key key, std::string_view name, std::uint32_t* type, void* buffer,
                          std::size_t capacity, std::size_t* size) = 0;
  virtual long SetValue(Key key, std::string_view name, std::uint32_t type, const void* data,
                        std::size_t size) = 0;
  virtual long CloseKey(Key key) = 0;
};

// ---------------------------------------------------------------- files

class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // The file's size, or nothing when it cannot be learned.
  virtual std::optional<std::uint64_t> Size() = 0;
  // Reads up to length bytes from the current position; -1 on error.
  virtual long long Read(void* buffer, std::size_t length) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens a file for binary reading; null when it cannot be opened.
  virtual std::unique_ptr<ReadableFile> OpenRead(const std::string& path) = 0;
  // Uninitialised memory for a loaded file's image, written once from its
  // start; null when there is not enough. A host may ask its system for
  // large pages, which make the first writes cheaper.
  virtual std::unique_ptr<unsigned char[]> AllocateImage(std::size_t length) {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[length]);
  }
};

// ---------------------------------------------------------------- the host

struct Host {
  Ui* ui = nullptr;
  Network* network = nullptr;
  Registry* registry = nullptr;
  FileSystem* files = nullptr;
};

// The installed host. Every member must be set before the core uses it.
Host& CurrentHost();
void SetHost(const Host& host);

// Shorthands for the core.
void ShowMessage(std::string_view text);

// The program's title: the file name of the executable's path (after the
// last of the separators) without its extension.
std::string ProgramTitleOfPath(std::string_view path, std::string_view separators);

}  // namespace tl
