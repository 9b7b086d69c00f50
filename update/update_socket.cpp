#include "update/update_socket.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tl {

UpdateSocket::UpdateSocket(ModuleLineSink& owner, Network* network, std::uint32_t moduleAddress)
    : owner_(owner) {
  if (network != nullptr) socket_ = network->ConnectTcp(moduleAddress, kModulePort, *this);
  if (socket_ == nullptr) creationError_ = network != nullptr ? network->LastError() : -1;
}

UpdateSocket::~UpdateSocket() = default;

void UpdateSocket::OnConnect(int error) {
  if (error != 0) owner_.OnConnectFailed();
}

void UpdateSocket::OnReceive(int error) {
  if (error != 0) {
    owner_.OnReceiveFailed();
    return;
  }
  // A read error stops the reading like a closed connection does.
  std::size_t budget = kMostBytesPerEvent;
  for (;;) {
    while (blockPos_ < blockLength_) TakeByte(block_[blockPos_++]);
    if (budget == 0 || socket_ == nullptr) return;
    const long n = socket_->Read(block_, std::min(budget, sizeof block_));
    if (n <= 0) {
      if (!closeTold_ && socket_->ClosedByPeer()) {
        closeTold_ = true;
        owner_.OnClosedByModule();
      }
      return;
    }
    blockLength_ = static_cast<std::size_t>(n);
    blockPos_ = 0;
    budget -= blockLength_;
  }
}

void UpdateSocket::TakeByte(unsigned char byte) {
  if (cutting_) {
    if (lastWasCr_ && byte == '\n') {
      cutting_ = false;
      lastWasCr_ = false;
      HandLineOn(kLongestLine);
      return;
    }
    lastWasCr_ = byte == '\r';
    return;
  }
  lineBuffer_[lineLength_++] = byte;
  if (lineLength_ >= 2 && lineBuffer_[lineLength_ - 2] == '\r' && lineBuffer_[lineLength_ - 1] == '\n') {
    HandLineOn(static_cast<std::size_t>(lineLength_ - 2));
    return;
  }
  if (lineLength_ == kLineBufferSize) {
    // Full without a line end: keep the first kLongestLine characters.
    cutting_ = true;
    lastWasCr_ = lineBuffer_[kLineBufferSize - 1] == '\r';
    lineLength_ = kLongestLine;
  }
}

void UpdateSocket::HandLineOn(std::size_t length) {
  // The line is a C text: it ends at the CR or at a NUL inside it.
  const char* start = reinterpret_cast<const char*>(lineBuffer_);
  const void* nul = std::memchr(start, '\0', length);
  if (nul != nullptr) length = static_cast<std::size_t>(static_cast<const char*>(nul) - start);
  std::string text(start, length);
  // Emptied before the handler runs: a nested read starts a fresh line.
  lineLength_ = 0;
  owner_.OnModuleLine(ParseCode(text), text);
}

long UpdateSocket::Counted(long taken) {
  if (taken > 0) bytesTaken_ += static_cast<std::uint64_t>(taken);
  return taken;
}

long UpdateSocket::Write(const void* data, std::size_t length) {
  if (socket_ == nullptr) return -1;
  return Counted(socket_->Write(data, length));
}

long UpdateSocket::WriteShared(std::shared_ptr<const unsigned char> data, std::size_t length) {
  if (socket_ == nullptr) return -1;
  return Counted(socket_->WriteShared(std::move(data), length));
}

std::uint64_t UpdateSocket::BytesSent() const {
  return socket_ == nullptr ? 0 : bytesTaken_ - socket_->Queued();
}

int UpdateSocket::ParseCode(std::string_view line) {
  std::size_t i = 0;
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (i < line.size() && isSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  // Magnitude in a wider type; it stops growing at the limit.
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  bool saturated = false;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
    if (!saturated) {
      value = value * 10 + (line[i] - '0');
      if (value >= limit) {
        value = limit;
        saturated = true;
      }
    }
    ++i;
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace tl
