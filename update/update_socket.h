// The TCP connection to the module: connects, reads the module's bytes in
// blocks, cuts them into CR LF lines and hands each to its owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/platform.h"

namespace tl {

// Receives every complete line and what becomes of the connection.
class ModuleLineSink {
 public:
  virtual void OnModuleLine(int code, const std::string& text) = 0;
  // The connect completed with an error.
  virtual void OnConnectFailed() = 0;
  // Read readiness came with an error.
  virtual void OnReceiveFailed() = 0;
  // A read found the connection closed or reset by the module; told once.
  virtual void OnClosedByModule() = 0;

 protected:
  ~ModuleLineSink() = default;
};

class UpdateSocket final : public SocketEvents {
 public:
  static constexpr std::uint16_t kModulePort = 20034;
  static constexpr int kLineBufferSize = 256;
  // The longest line kept whole: 254 characters, then CR LF.
  static constexpr int kLongestLine = kLineBufferSize - 2;
  // Bytes read per call, and at most per readiness event: a module that
  // keeps sending gives the loop back its turn after this much.
  static constexpr std::size_t kReadBlock = 4096;
  static constexpr std::size_t kMostBytesPerEvent = 16 * kReadBlock;

  // Starts the connect at once. When the socket cannot be created it stays
  // without a connection; CreationError() tells why.
  UpdateSocket(ModuleLineSink& owner, Network* network, std::uint32_t moduleAddress);
  ~UpdateSocket();
  UpdateSocket(const UpdateSocket&) = delete;
  UpdateSocket& operator=(const UpdateSocket&) = delete;

  void OnConnect(int error) override;
  void OnReceive(int error) override;

  // A plain send: the count taken, or -1 (also without a connection).
  long Write(const void* data, std::size_t length);
  // The same for bytes that stay unchanged while data is held.
  long WriteShared(std::shared_ptr<const unsigned char> data, std::size_t length);
  bool HasConnection() const { return socket_ != nullptr; }
  long CreationError() const { return creationError_; }
  // Bytes taken by the writes so far, and how many of them the system has.
  std::uint64_t BytesTaken() const { return bytesTaken_; }
  std::uint64_t BytesSent() const;

  // The decimal code at the start of a line: leading white space, an
  // optional sign, digits. 0 without digits; saturates at the int limits.
  static int ParseCode(std::string_view line);

 private:
  void TakeByte(unsigned char byte);
  void HandLineOn(std::size_t length);
  long Counted(long taken);

  ModuleLineSink& owner_;
  std::unique_ptr<TcpSocket> socket_;
  long creationError_ = 0;
  std::uint64_t bytesTaken_ = 0;
  bool closeTold_ = false;
  unsigned char lineBuffer_[kLineBufferSize] = {};
  std::int32_t lineLength_ = 0;
  // The block being cut into lines. A handler that runs a nested loop may
  // re-enter OnReceive: it goes on from the same place, so order is kept.
  unsigned char block_[kReadBlock] = {};
  std::size_t blockLength_ = 0;
  std::size_t blockPos_ = 0;
  // An over-long line: its first kLongestLine characters are kept, the rest
  // is passed over until its CR LF.
  bool cutting_ = false;
  bool lastWasCr_ = false;
};

}  // namespace tl
