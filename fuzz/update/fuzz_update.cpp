// Feeds arbitrary module byte streams, cut into arbitrary reads, through an
// update session's line assembly and handler on a virtual clock.
//   byte 0: read size (1..64), whether the connect fails, whether the module
//           reads nothing it is sent
//   byte 1: the user's answer to credential prompts, boxes left open
//   rest:   the module's bytes
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/platform.h"
#include "platform/headless/event_loop.h"
#include "update/module_lines.h"
#include "update/update_session.h"

namespace {

using namespace tl;

constexpr std::size_t kImageLength = 8;

class FuzzSocket : public TcpSocket {
 public:
  FuzzSocket(SocketEvents& events, bool readsNothing) : events(events), readsNothing(readsNothing) {}
  long Read(void* buffer, std::size_t capacity) override {
    if (pending.empty() || capacity == 0) return 0;
    *static_cast<unsigned char*>(buffer) = pending.front();
    pending.pop_front();
    return 1;
  }
  long Write(const void*, std::size_t length) override {
    written += length;
    return static_cast<long>(length);
  }
  std::size_t Queued() const override { return readsNothing ? written : 0; }
  SocketEvents& events;
  bool readsNothing;
  std::deque<unsigned char> pending;
  std::size_t written = 0;
};

class FuzzNetwork : public Network {
 public:
  explicit FuzzNetwork(bool readsNothing) : readsNothing(readsNothing) {}
  bool Startup(int, int, int*, int*) override { return true; }
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t, SocketEvents&) override { return nullptr; }
  std::vector<NetworkInterface> Interfaces() override { return {}; }
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t, std::uint16_t, SocketEvents& e) override {
    auto s = std::make_unique<FuzzSocket>(e, readsNothing);
    last = s.get();
    return s;
  }
  long LastError() override { return 0; }
  bool readsNothing;
  FuzzSocket* last = nullptr;
};

// The user: boxes closed at once or after a while (a nested loop), the
// credentials answered or cancelled, at once or later.
class User final : public UpdateObserver {
 public:
  User(EventLoop& loop, std::uint8_t choices) : loop_(loop), choices_(choices) {}
  void Attach(UpdateSession& session) { session_ = &session; }

  void OnProgress(int percent) override {
    if (percent < 0 || percent > line::kMostPercent) std::abort();
  }
  void OnMessage(const std::string&) override {
    if ((choices_ & 1) == 0) return;
    const std::uint64_t until = loop_.NowMs() + 1000u * (choices_ >> 4);
    while (loop_.NowMs() < until && loop_.RunOnce()) {
    }
  }
  void OnCredentialsWanted() override {
    auto answer = [this] {
      if ((choices_ & 2) != 0) {
        session_->CancelCredentials();
      } else {
        session_->AnswerCredentials(std::string(choices_ & 7, 'u'), "p");
      }
    };
    if ((choices_ & 8) != 0) {
      loop_.Post(2000, answer);
    } else {
      answer();
    }
  }
  void OnEnding(UpdateEnding) override { ended = true; }
  bool ended = false;

 private:
  EventLoop& loop_;
  std::uint8_t choices_;
  UpdateSession* session_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = 1 + (data[0] & 63);
  const bool connectFails = (data[0] & 64) != 0;
  const bool readsNothing = (data[0] & 128) != 0;

  EventLoop loop(EventLoop::Clock::Virtual);
  FuzzNetwork net(readsNothing);
  auto image = std::make_shared<UpdateImage>();
  image->platformName = "RT40";
  image->imageLength = kImageLength;
  image->imageData.reset(new unsigned char[kImageLength]());

  User user(loop, data[1]);
  UpdateSession::Choices choices;
  choices.rebootWhenComplete = data[1] & 4;
  UpdateSession session(&net, image, 0x7F000001, choices, user);
  user.Attach(session);
  session.Start();
  FuzzSocket* socket = net.last;
  if (connectFails) socket->events.OnConnect(111);

  // One read batch every 100 ms until the stream is used up; the idle
  // ticks run until the session has ended.
  std::size_t offset = 2;
  std::function<void()> feed = [&] {
    if (offset >= size) return;
    const std::size_t n = std::min(chunk, size - offset);
    socket->pending.insert(socket->pending.end(), data + offset, data + offset + n);
    offset += n;
    socket->events.OnReceive(0);
    loop.Post(100, feed);
  };
  loop.Post(0, feed);
  const std::uint64_t ticks = loop.AddTimer(UpdateSession::kIdlePeriodMs, UpdateSession::kIdlePeriodMs,
                                            [&] { session.OnTimer(); });
  while (!user.ended && loop.RunOnce()) {
  }
  loop.RemoveTimer(ticks);
  if (!session.Ended()) std::abort();
  // What waits for a module that reads nothing never passes one answer of
  // each kind, however often it asks.
  constexpr std::size_t kPlacement = 2 * 4, kRebootChoice = 1;
  constexpr std::size_t kLongestCredentials = 7 + 1 + 1 + 2;  // the name, 0x00, "p", CR LF
  const std::size_t mostOwed = kImageLength + kPlacement + kRebootChoice + kLongestCredentials;
  if (readsNothing && socket->written > mostOwed) std::abort();
  return 0;
}
