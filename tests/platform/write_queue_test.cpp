#include "platform/core/write_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tl {
namespace {

// A connection that takes up to `room` bytes, then nothing, or is gone.
struct Peer {
  std::string got;
  std::size_t room = 0;
  bool goneWhenFull = false;
  WriteQueue::Send Send() {
    return [this](const unsigned char* data, std::size_t length) -> long {
      if (room == 0 && goneWhenFull) return -1;
      std::size_t n = std::min(length, room);
      got.append(reinterpret_cast<const char*>(data), n);
      room -= n;
      return static_cast<long>(n);
    };
  }
};

TEST(WriteQueue, TakesAllBytesAndSendsTheRestInOrderAsTheConnectionDrains) {
  Peer peer;
  peer.room = 3;
  WriteQueue queue;
  EXPECT_EQ(queue.Write("abcdef", 6, true, peer.Send()), 6);
  EXPECT_EQ(peer.got, "abc");
  EXPECT_EQ(queue.Queued(), 3u);
  // Behind queued bytes a write waits its turn, even when there is room.
  peer.room = 100;
  EXPECT_EQ(queue.Write("gh", 2, true, peer.Send()), 2);
  EXPECT_EQ(peer.got, "abc");
  peer.room = 4;
  queue.Drain(peer.Send());
  EXPECT_EQ(peer.got, "abcdefg");
  EXPECT_EQ(queue.Queued(), 1u);
  peer.room = 10;
  queue.Drain(peer.Send());
  EXPECT_EQ(peer.got, "abcdefgh");
  EXPECT_EQ(queue.Queued(), 0u);
}

TEST(WriteQueue, NothingGoesBeforeTheConnectIsDone) {
  Peer peer;
  peer.room = 100;
  WriteQueue queue;
  EXPECT_EQ(queue.Write("ab", 2, false, peer.Send()), 2);
  EXPECT_EQ(peer.got, "");
  queue.Drain(peer.Send());
  EXPECT_EQ(peer.got, "ab");
}

TEST(WriteQueue, AConnectionThatGoesDropsTheQueueAndRefusesFurtherWrites) {
  struct Case {
    std::size_t room;  // before the connection goes
    long taken;
  };
  for (const Case& c : {Case{0, -1}, Case{2, 2}}) {
    SCOPED_TRACE(c.room);
    Peer peer;
    peer.room = c.room;
    peer.goneWhenFull = true;
    WriteQueue queue;
    EXPECT_EQ(queue.Write("abcd", 4, true, peer.Send()), c.taken);
    EXPECT_TRUE(queue.Closed());
    EXPECT_EQ(queue.Queued(), 0u);
    EXPECT_EQ(queue.Write("e", 1, true, peer.Send()), -1);
  }
}

TEST(WriteQueue, SharedBytesWaitByReferenceNotAsACopy) {
  Peer peer;
  peer.room = 3;
  WriteQueue queue;
  std::shared_ptr<unsigned char[]> bytes(new unsigned char[6]{'a', 'b', 'c', 'd', 'e', 'f'});
  std::shared_ptr<const unsigned char> shared(bytes, bytes.get());
  EXPECT_EQ(queue.WriteShared(shared, 6, true, peer.Send()), 6);
  EXPECT_EQ(bytes.use_count(), 3);  // ours, the test's and the queue's
  bytes[4] = 'E';                   // what waits is these very bytes
  peer.room = 100;
  queue.Drain(peer.Send());
  EXPECT_EQ(peer.got, "abcdEf");
  EXPECT_EQ(bytes.use_count(), 2);
}

TEST(WriteQueue, OneCallHandsTheSystemABoundedAmount) {
  // A connection that takes all it is given still leaves the loop its turn;
  // the queue says so, for hosts that hear of writability only after a
  // refused send.
  Peer peer;
  peer.room = 10 * WriteQueue::kMostBytesPerCall;
  WriteQueue queue;
  const std::string bytes(3 * WriteQueue::kMostBytesPerCall, 'x');
  queue.Write(bytes.data(), bytes.size(), true, peer.Send());
  for (std::size_t calls = 1; calls <= 3; ++calls) {
    EXPECT_EQ(peer.got.size(), calls * WriteQueue::kMostBytesPerCall);
    EXPECT_EQ(queue.PausedForTurn(), calls < 3);
    queue.Drain(peer.Send());
  }
  peer.room = 0;
  queue.Write("y", 1, true, peer.Send());
  queue.Drain(peer.Send());
  EXPECT_FALSE(queue.PausedForTurn());  // stopped by the system, not by the turn
}

}  // namespace
}  // namespace tl
