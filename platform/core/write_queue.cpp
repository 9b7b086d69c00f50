#include "platform/core/write_queue.h"

#include <climits>

namespace tl {

long WriteQueue::Write(const void* data, std::size_t length, bool sendNow, const Send& send) {
  if (closed_) return -1;
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t sent = 0;
  if (queue_.empty() && sendNow) {
    while (sent < length) {
      long n = send(bytes + sent, length - sent);
      if (n == 0) break;
      if (n < 0) {
        Close();
        return sent > 0 ? static_cast<long>(sent) : -1;
      }
      sent += static_cast<std::size_t>(n);
    }
  }
  if (sent < length) {
    queue_.emplace_back(bytes + sent, bytes + length);
    queued_ += length - sent;
  }
  return length > static_cast<std::size_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(length);
}

void WriteQueue::Drain(const Send& send) {
  while (!queue_.empty()) {
    std::vector<unsigned char>& front = queue_.front();
    long n = send(front.data() + frontSent_, front.size() - frontSent_);
    if (n == 0) return;
    if (n < 0) {
      Close();
      return;
    }
    frontSent_ += static_cast<std::size_t>(n);
    queued_ -= static_cast<std::size_t>(n);
    if (frontSent_ == front.size()) {
      queue_.pop_front();
      frontSent_ = 0;
    }
  }
}

void WriteQueue::Close() {
  closed_ = true;
  queue_.clear();
  queued_ = 0;
  frontSent_ = 0;
}

}  // namespace tl
