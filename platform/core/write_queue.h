// The TcpSocket write rule over a system's send: a write takes all bytes,
// sends what the connection takes now and queues the rest, in order, to be
// sent as the connection drains. Hosts feed it their send call.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

namespace tl {

class WriteQueue {
 public:
  // The system's send: bytes taken (> 0), 0 when it takes nothing now, or
  // -1 when the connection is gone.
  using Send = std::function<long(const unsigned char* data, std::size_t length)>;
  // Bytes handed to the system in one call at most: a connection that
  // takes everything it is given still leaves the loop its turn.
  static constexpr std::size_t kMostBytesPerCall = 256 * 1024;

  // Sends at once when nothing waits and sendNow is true; queues a copy of
  // what is left. Returns the count taken, or when the connection went the
  // bytes sent before that (-1 for none); Closed() is then true.
  long Write(const void* data, std::size_t length, bool sendNow, const Send& send);
  // The same for bytes that stay unchanged while data is held: what is
  // left is queued by reference, not copied.
  long WriteShared(std::shared_ptr<const unsigned char> data, std::size_t length, bool sendNow,
                   const Send& send);
  // Sends queued bytes until the system takes no more, the queue is empty
  // or kMostBytesPerCall went.
  void Drain(const Send& send);

  std::size_t Queued() const { return queued_; }
  // The last sending stopped at kMostBytesPerCall with bytes left, not
  // because the system took no more: a host whose writability events come
  // only after a refused send must call Drain again of its own accord.
  bool PausedForTurn() const { return paused_; }
  bool Closed() const { return closed_; }
  // What is queued can never go: the connection was reset or closed.
  void Close();

 private:
  struct Piece {
    std::shared_ptr<const unsigned char> bytes;  // the first byte not yet sent
    std::size_t length = 0;
  };
  // Sends from bytes while nothing waits; false when the connection went.
  bool SendAtOnce(const unsigned char* bytes, std::size_t length, bool sendNow, const Send& send,
                  std::size_t* sent);
  static long Taken(std::size_t length);

  std::deque<Piece> queue_;
  std::size_t queued_ = 0;
  bool paused_ = false;
  bool closed_ = false;
};

}  // namespace tl
