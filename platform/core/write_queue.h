// The TcpSocket write rule over a system's send: a write takes all bytes,
// sends what the connection takes now and queues the rest, in order, to be
// sent as the connection drains. Hosts feed it their send call.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <vector>

namespace tl {

class WriteQueue {
 public:
  // The system's send: bytes taken (> 0), 0 when it takes nothing now, or
  // -1 when the connection is gone.
  using Send = std::function<long(const unsigned char* data, std::size_t length)>;

  // Sends at once when nothing waits and sendNow is true; queues what is
  // left. Returns the count taken, or when the connection went the bytes
  // sent before that (-1 for none); Closed() is then true.
  long Write(const void* data, std::size_t length, bool sendNow, const Send& send);
  // Sends queued bytes until the system takes no more or the queue is empty.
  void Drain(const Send& send);

  std::size_t Queued() const { return queued_; }
  bool Closed() const { return closed_; }
  // What is queued can never go: the connection was reset or closed.
  void Close();

 private:
  std::deque<std::vector<unsigned char>> queue_;
  std::size_t frontSent_ = 0;
  std::size_t queued_ = 0;
  bool closed_ = false;
};

}  // namespace tl
