// A non-blocking TCP socket whose readiness comes from a Reactor: the
// connect's completion, the watch that follows what is wanted, and the write
// queue. The system's own calls are the subclass's.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/core/platform.h"
#include "platform/core/reactor.h"
#include "platform/core/write_queue.h"

namespace tl {

class ReactorTcpSocket : public TcpSocket {
 public:
  long Read(void* buffer, std::size_t capacity) final;
  long Write(const void* data, std::size_t length) final;
  long WriteShared(std::shared_ptr<const unsigned char> data, std::size_t length) final;
  std::size_t Queued() const final { return queue_.Queued(); }
  bool ClosedByPeer() const final { return peerClosed_ || reset_; }

  // A socket whose connect failed at once reports nothing, ever.
  void MarkDead();

 protected:
  // Why a receive failed.
  enum class Failure { kWouldBlock, kReset, kBroken };

  ReactorTcpSocket(Reactor& reactor, int descriptor, SocketEvents& events, bool connecting);
  // Called by the subclass's destructor before it closes the socket.
  void StopWatching();

  // One non-blocking receive: the bytes, 0 when the peer closed, or -1 with
  // the reason in *failure.
  virtual long Receive(void* buffer, std::size_t capacity, Failure* failure) = 0;
  // One non-blocking send: bytes taken, 0 when the system takes none now,
  // -1 when the connection is gone.
  virtual long Send(const unsigned char* data, std::size_t length) = 0;
  // Once a connect under way is ready: 0 when it completed (a reset already
  // after it counts as completed), else the system's error.
  virtual int ConnectError() = 0;

 private:
  void UpdateWatch();
  void OnReady(bool readable, bool writable);
  // One write through the queue; writability is watched while bytes wait.
  template <typename Writing>
  long Queue(Writing write);
  WriteQueue::Send SendNow();

  Reactor& reactor_;
  int descriptor_;
  SocketEvents& events_;
  bool connecting_;
  bool watched_ = false;
  bool peerClosed_ = false;
  bool broken_ = false;
  bool reset_ = false;
  WriteQueue queue_;
};

}  // namespace tl
