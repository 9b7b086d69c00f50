#include "platform/core/write_queue.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tl {

long WriteQueue::Taken(std::size_t length) {
  return length > static_cast<std::size_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(length);
}

bool WriteQueue::SendAtOnce(const unsigned char* bytes, std::size_t length, bool sendNow,
                            const Send& send, std::size_t* sent) {
  *sent = 0;
  if (!queue_.empty() || !sendNow) return true;
  const std::size_t most = std::min(length, kMostBytesPerCall);
  while (*sent < most) {
    const long n = send(bytes + *sent, most - *sent);
    if (n == 0) return true;
    if (n < 0) {
      Close();
      return false;
    }
    *sent += static_cast<std::size_t>(n);
  }
  paused_ = *sent < length;
  return true;
}

long WriteQueue::Write(const void* data, std::size_t length, bool sendNow, const Send& send) {
  if (closed_) return -1;
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t sent = 0;
  if (!SendAtOnce(bytes, length, sendNow, send, &sent)) return sent > 0 ? Taken(sent) : -1;
  if (sent < length) {
    std::shared_ptr<unsigned char[]> rest(new unsigned char[length - sent]);
    std::memcpy(rest.get(), bytes + sent, length - sent);
    queue_.push_back(Piece{std::shared_ptr<const unsigned char>(rest, rest.get()), length - sent});
    queued_ += length - sent;
  }
  return Taken(length);
}

long WriteQueue::WriteShared(std::shared_ptr<const unsigned char> data, std::size_t length, bool sendNow,
                             const Send& send) {
  if (closed_) return -1;
  std::size_t sent = 0;
  if (!SendAtOnce(data.get(), length, sendNow, send, &sent)) return sent > 0 ? Taken(sent) : -1;
  if (sent < length) {
    const unsigned char* rest = data.get() + sent;
    queue_.push_back(Piece{std::shared_ptr<const unsigned char>(std::move(data), rest), length - sent});
    queued_ += length - sent;
  }
  return Taken(length);
}

void WriteQueue::Drain(const Send& send) {
  std::size_t budget = kMostBytesPerCall;
  paused_ = false;
  while (!queue_.empty()) {
    if (budget == 0) {
      paused_ = true;
      return;
    }
    Piece& front = queue_.front();
    const long n = send(front.bytes.get(), std::min(front.length, budget));
    if (n == 0) return;
    if (n < 0) {
      Close();
      return;
    }
    const auto count = static_cast<std::size_t>(n);
    budget -= count;
    queued_ -= count;
    front.length -= count;
    if (front.length == 0) {
      queue_.pop_front();
    } else {
      front.bytes = std::shared_ptr<const unsigned char>(front.bytes, front.bytes.get() + count);
    }
  }
}

void WriteQueue::Close() {
  closed_ = true;
  paused_ = false;
  queue_.clear();
  queued_ = 0;
}

}  // namespace tl
