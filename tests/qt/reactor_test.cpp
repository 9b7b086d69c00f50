// Descriptor readiness on the Qt loop, and the POSIX sockets running on it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <vector>

#include "platform/posix/posix_network.h"
#include "platform/qt/qt_reactor.h"
#include "tests/qt/qt_support.h"

namespace tl::test {
namespace {

struct Pair {
  int fd[2] = {-1, -1};
  Pair() {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0);
    for (int f : fd) ::fcntl(f, F_SETFL, ::fcntl(f, F_GETFL) | O_NONBLOCK);
  }
  ~Pair() {
    for (int f : fd) {
      if (f >= 0) ::close(f);
    }
  }
  void Send(int side, const char* text) { EXPECT_GT(::write(fd[side], text, std::strlen(text)), 0); }
};

// Runs the Qt loop until done() holds; returns done(). The time limit only
// ends a test that would otherwise hang.
bool Spin(const std::function<bool()>& done, int maxMs = 20000) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  poll.start(1);
  QTimer::singleShot(maxMs, &loop, &QEventLoop::quit);
  if (!done()) loop.exec();
  return done();
}

// Runs the loop until a descriptor that stays readable has been delivered
// three times: readiness due on any other descriptor has had its turns.
void SpinRounds(QtReactor& reactor) {
  Pair witness;
  witness.Send(1, "w");
  int rounds = 0;
  reactor.Watch(witness.fd[0], true, false, [&](bool, bool) { ++rounds; });
  EXPECT_TRUE(Spin([&] { return rounds >= 3; }));
  reactor.Unwatch(witness.fd[0]);
}

struct Calls {
  int count = 0;
  bool readable = false;
  bool writable = false;
};

TEST(QtReactor, DeliversReadAndWriteReadinessByInterest) {
  QtReactor reactor;
  Pair pair;
  Calls calls;
  auto record = [&](bool r, bool w) {
    ++calls.count;
    calls.readable = r;
    calls.writable = w;
  };
  // No interest: nothing, even with bytes waiting.
  pair.Send(1, "x");
  reactor.Watch(pair.fd[0], false, false, record);
  SpinRounds(reactor);
  EXPECT_EQ(calls.count, 0);

  reactor.Watch(pair.fd[0], true, false, record);
  ASSERT_TRUE(Spin([&] { return calls.count > 0; }));
  EXPECT_TRUE(calls.readable);
  EXPECT_FALSE(calls.writable);

  calls = Calls{};
  reactor.Watch(pair.fd[1], false, true, record);
  reactor.Unwatch(pair.fd[0]);
  ASSERT_TRUE(Spin([&] { return calls.count > 0; }));
  EXPECT_FALSE(calls.readable);
  EXPECT_TRUE(calls.writable);
  reactor.Unwatch(pair.fd[1]);

  // A hang-up counts as readable.
  calls = Calls{};
  reactor.Watch(pair.fd[0], true, false, [&](bool r, bool w) {
    record(r, w);
    char buffer[16];
    while (::read(pair.fd[0], buffer, sizeof buffer) > 0) {
    }
  });
  ::close(pair.fd[1]);
  pair.fd[1] = -1;
  ASSERT_TRUE(Spin([&] { return calls.count > 0; }));
  EXPECT_TRUE(calls.readable);
  reactor.Unwatch(pair.fd[0]);
}

// A callback that drops its own interest, unwatches itself, or replaces its
// own callback while it runs: nothing more is delivered to the old one and
// nothing it holds is freed under it.
TEST(QtReactor, CallbacksMayUnwatchAndRewatchDuringDispatch) {
  QtReactor reactor;
  Pair a;
  Pair b;
  a.Send(1, "pending");  // stays unread: the descriptor stays readable
  int first = 0;
  int second = 0;
  std::string held(64, 'h');
  reactor.Watch(a.fd[0], true, false, [&, held](bool, bool) {
    ++first;
    // Replaced while running: this closure must stay alive until it returns.
    reactor.Watch(a.fd[0], true, false, [&](bool, bool) {
      ++second;
      reactor.Unwatch(a.fd[0]);
    });
    EXPECT_EQ(held, std::string(64, 'h'));
  });
  ASSERT_TRUE(Spin([&] { return second > 0; }));
  SpinRounds(reactor);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  EXPECT_FALSE(reactor.Watching(a.fd[0]));

  // Unwatching another descriptor whose readiness is due in the same round.
  int bCalls = 0;
  b.Send(1, "also pending");
  reactor.Watch(b.fd[0], true, false, [&](bool, bool) { ++bCalls; });
  reactor.Watch(a.fd[0], true, false, [&](bool, bool) {
    reactor.Unwatch(b.fd[0]);
    reactor.Unwatch(a.fd[0]);
  });
  ASSERT_TRUE(Spin([&] { return !reactor.Watching(a.fd[0]); }));
  SpinRounds(reactor);
  EXPECT_LE(bCalls, 1);
  int bCallsNow = bCalls;
  SpinRounds(reactor);
  EXPECT_EQ(bCalls, bCallsNow);

  // A descriptor number used again after close gets only the new callback.
  int oldCalls = 0;
  int newCalls = 0;
  int number = b.fd[0];
  reactor.Watch(number, true, false, [&](bool, bool) { ++oldCalls; });
  reactor.Unwatch(number);
  ::close(b.fd[0]);
  int fresh[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fresh), 0);
  b.fd[0] = fresh[0] == number ? fresh[0] : fresh[1] == number ? fresh[1] : fresh[0];
  int other = b.fd[0] == fresh[0] ? fresh[1] : fresh[0];
  ASSERT_EQ(b.fd[0], number);
  ASSERT_EQ(::write(other, "n", 1), 1);
  reactor.Watch(number, true, false, [&](bool, bool) {
    ++newCalls;
    reactor.Unwatch(number);
  });
  ASSERT_TRUE(Spin([&] { return newCalls > 0; }));
  EXPECT_EQ(oldCalls, 0);
  ::close(other);
}

// Readiness keeps arriving in a nested loop that a callback runs (a message
// box opened from OnReceive).
TEST(QtReactor, NestedLoopsKeepDelivering) {
  QtReactor reactor;
  Pair a;
  Pair b;
  bool bSeenInsideA = false;
  bool insideA = false;
  reactor.Watch(b.fd[0], true, false, [&](bool, bool) {
    bSeenInsideA = insideA;
    reactor.Unwatch(b.fd[0]);
  });
  reactor.Watch(a.fd[0], true, false, [&](bool, bool) {
    reactor.Watch(a.fd[0], false, false, [](bool, bool) {});
    insideA = true;
    b.Send(1, "b");
    Spin([&] { return !reactor.Watching(b.fd[0]); });
    insideA = false;
  });
  a.Send(1, "a");
  ASSERT_TRUE(Spin([&] { return !reactor.Watching(b.fd[0]); }));
  EXPECT_TRUE(bSeenInsideA);
  reactor.Unwatch(a.fd[0]);
}

std::uint16_t FreeUdpPort() {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

struct Events : SocketEvents {
  int connects = 0;
  int connectError = -1;
  int receives = 0;
  std::function<void()> onReceive;
  void OnConnect(int error) override {
    ++connects;
    connectError = error;
  }
  void OnReceive(int) override {
    ++receives;
    if (onReceive) onReceive();
  }
};

constexpr std::uint32_t kLoopback = 0x7F000001;

TEST(QtReactor, PosixSocketsRunOnTheQtLoop) {
  QtReactor reactor;
  PosixNetwork network(reactor);
  int major = 0;
  int minor = 0;
  ASSERT_TRUE(network.Startup(1, 1, &major, &minor));

  // UDP over loopback.
  Events udpEvents;
  std::uint16_t port = FreeUdpPort();
  std::unique_ptr<UdpSocket> udp = network.OpenUdp(port, udpEvents);
  ASSERT_NE(udp, nullptr);
  std::string got;
  udpEvents.onReceive = [&] {
    char buffer[64];
    std::uint32_t from = 0;
    std::uint16_t fromPort = 0;
    long n = udp->ReceiveFromOn(buffer, sizeof buffer, &from, &fromPort, nullptr);
    if (n > 0) got.assign(buffer, static_cast<std::size_t>(n));
  };
  ASSERT_EQ(udp->SendTo("hello", 5, kLoopback, port), 5);
  ASSERT_TRUE(Spin([&] { return !got.empty(); }));
  EXPECT_EQ(got, "hello");

  // TCP: connect, the peer's line, and a write far larger than the socket
  // buffers that drains as the peer reads.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  Events tcpEvents;
  std::unique_ptr<TcpSocket> tcp = network.ConnectTcp(kLoopback, ntohs(addr.sin_port), tcpEvents);
  ASSERT_NE(tcp, nullptr);
  ASSERT_TRUE(Spin([&] { return tcpEvents.connects > 0; }));
  EXPECT_EQ(tcpEvents.connectError, 0);
  int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ::fcntl(peer, F_SETFL, ::fcntl(peer, F_GETFL) | O_NONBLOCK);

  std::string line;
  tcpEvents.onReceive = [&] {
    char buffer[64];
    long n = 0;
    while ((n = tcp->Read(buffer, sizeof buffer)) > 0) line.append(buffer, static_cast<std::size_t>(n));
  };
  ASSERT_EQ(::write(peer, "100 Ombrelin\r\n", 14), 14);
  ASSERT_TRUE(Spin([&] { return line.size() >= 14; }));
  EXPECT_EQ(line, "100 Ombrelin\r\n");

  std::vector<unsigned char> image(8 << 20);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7 + (i >> 13));
  ASSERT_EQ(tcp->Write(image.data(), image.size()), static_cast<long>(image.size()));
  EXPECT_GT(tcp->Queued(), 0u);
  std::vector<unsigned char> received;
  received.reserve(image.size());
  ASSERT_TRUE(Spin(
      [&] {
        unsigned char buffer[65536];
        ssize_t n = 0;
        while ((n = ::read(peer, buffer, sizeof buffer)) > 0) received.insert(received.end(), buffer, buffer + n);
        return received.size() >= image.size();
      }));
  EXPECT_TRUE(received == image);
  EXPECT_EQ(tcp->Queued(), 0u);
  tcp.reset();
  ::close(peer);
  ::close(listener);
}

}  // namespace
}  // namespace tl::test
