// The update session alone, as the console drives it: an observer that
// records what a user would see, idle ticks given by the test, the fake
// connection.
#include "update/update_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_host.h"
#include "update/module_lines.h"

namespace tl {
namespace {

constexpr std::uint32_t kModule = 0x0A000105;  // 10.0.1.5
const std::string kBytes = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";

std::shared_ptr<const UpdateImage> Image(const std::string& platform) {
  auto image = std::make_shared<UpdateImage>();
  image->platformName = platform;
  image->startAddress = 0x0100;
  image->imageLength = static_cast<std::uint32_t>(kBytes.size());
  image->imageData.reset(new unsigned char[kBytes.size()]);
  std::copy(kBytes.begin(), kBytes.end(), image->imageData.get());
  return image;
}

struct Seen final : UpdateObserver {
  void OnProgress(int percent) override { progress.push_back(percent); }
  void OnMessage(const std::string& text) override { messages.push_back(text); }
  void OnCredentialsWanted() override {
    ++credentialsWanted;
    if (answer) answer();
  }
  void OnEnding(UpdateEnding ending) override { endings.push_back(ending); }

  std::vector<int> progress;
  std::vector<std::string> messages;
  std::vector<UpdateEnding> endings;
  int credentialsWanted = 0;
  std::function<void()> answer;  // run when credentials are wanted
};

// One session on the test host; Start() is the test's to call.
struct Session {
  explicit Session(UpdateSession::Choices choices = {}, const std::string& platform = "RT40")
      : session(&host.net, Image(platform), kModule, choices, seen) {}
  void Start() {
    session.Start();
    peer = host.net.LastTcp();
  }
  // The module's bytes, a few KiB per read as a module sends them.
  void Lines(const std::string& bytes) {
    std::size_t at = 0;
    do {
      peer->Deliver(bytes.substr(at, 8192));
      at += 8192;
    } while (at < bytes.size());
  }
  // Against a module that takes nothing it is sent; credentials are
  // answered at once.
  void StartWithAModuleThatReadsNothing() {
    seen.answer = [this] { session.AnswerCredentials("u", "p"); };
    Start();
    peer->peerReadsNothing = true;
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) session.OnTimer();
  }

  test::TestHost host;
  Seen seen;
  UpdateSession session;
  test::FakeTcpSocket* peer = nullptr;
};

std::string Repeated(const std::string& line, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += line;
  return out;
}

TEST(UpdateSessionEndings, EachWayToEndHasItsClassAndItsWords) {
  struct Case {
    const char* what;
    std::function<void(Session&)> before;  // ahead of the start
    std::function<void(Session&)> act;
    std::vector<std::string> messages;
    UpdateEnding ending;
  };
  UpdateSession::Choices console;
  console.endWhenClosed = true;
  const Case cases[] = {
      {"106", nullptr, [](Session& s) { s.Lines("106 done\r\n"); }, {}, UpdateEnding::kCompleted},
      {"107", nullptr, [](Session& s) { s.Lines("107\r\n"); }, {}, UpdateEnding::kCompleted},
      {"an error line", nullptr, [](Session& s) { s.Lines("250 Bad image\r\n"); }, {"Error: Bad image"},
       UpdateEnding::kRefused},
      {"a failed connect", nullptr, [](Session& s) { s.peer->CompleteConnect(111); }, {"Error: Connect error"},
       UpdateEnding::kConnectionFailed},
      {"a failed receive", nullptr, [](Session& s) { s.peer->SignalReceiveError(104); },
       {"Error: Receive error"}, UpdateEnding::kConnectionFailed},
      {"the idle limit", nullptr, [](Session& s) { s.Ticks(UpdateSession::kIdleLimit); }, {"Error: Timed out"},
       UpdateEnding::kTimedOut},
      {"the user", nullptr, [](Session& s) { s.session.Cancel(); }, {}, UpdateEnding::kCancelled},
      {"the credentials prompt",
       nullptr,
       [](Session& s) {
         s.seen.answer = [&s] { s.session.CancelCredentials(); };
         s.Lines("101\r\n");
       },
       {},
       UpdateEnding::kCancelled},
      {"a socket that cannot be made",
       [](Session& s) {
         s.host.net.tcpCreateFails = true;
         s.host.net.lastError = 10055;
       },
       [](Session& s) { s.Ticks(UpdateSession::kIdleLimit); },
       {"Error on Connect = 10055 for 0", "Error: Timed out"},
       UpdateEnding::kConnectionFailed},
      {"a write that falls short, then the idle limit",
       nullptr,
       [](Session& s) {
         s.peer->writeLimit = 3;
         s.Lines("102\r\n");
         s.Ticks(UpdateSession::kIdleLimit);
       },
       {"Error: Timed out"},
       UpdateEnding::kConnectionFailed},
      {"the module's close, where the desktop waits for the idle limit",
       nullptr,
       [](Session& s) {
         s.peer->closedByPeer = true;
         s.Lines("100 x:RT40:y\r\n");
         s.Ticks(UpdateSession::kIdleLimit);
       },
       {"Error: Timed out"},
       UpdateEnding::kTimedOut},
      {"an error after the end, which says why", nullptr,
       [](Session& s) { s.Lines("106 done\r\n250 Late error\r\n251 Later\r\n"); }, {"Error: Late error"},
       UpdateEnding::kRefused},
      {"the end after an error", nullptr, [](Session& s) { s.Lines("250 x\r\n106\r\n"); }, {"Error: x"},
       UpdateEnding::kCompleted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Session s;
    if (c.before) c.before(s);
    s.Start();
    c.act(s);
    EXPECT_TRUE(s.session.Ended());
    EXPECT_EQ(s.session.Ending(), c.ending);
    EXPECT_EQ(s.seen.messages, c.messages);
    ASSERT_FALSE(s.seen.endings.empty());
    EXPECT_EQ(s.seen.endings.back(), c.ending);
  }

  // The console ends at once when the module closes; after the end the
  // close is the module's last step and changes nothing.
  for (const bool ended : {false, true}) {
    Session s(console);
    s.Start();
    if (ended) s.Lines("106\r\n");
    s.peer->closedByPeer = true;
    s.Lines("");
    EXPECT_EQ(s.session.Ending(), ended ? UpdateEnding::kCompleted : UpdateEnding::kConnectionFailed);
    EXPECT_EQ(s.seen.messages,
              ended ? std::vector<std::string>{} : std::vector<std::string>{"Error: Connection closed by module"});
  }
}

TEST(UpdateSessionCredentials, AnsweredLaterOnePromptAtATime) {
  Session s;
  s.Start();
  s.Lines("101\r\n101\r\n");
  EXPECT_EQ(s.seen.credentialsWanted, 1);  // the second while the first is open
  EXPECT_EQ(s.peer->written, "");
  s.session.AnswerCredentials("ab", "cd");
  EXPECT_EQ(s.peer->written, std::string("ab\0cd\r\n", 7));
  s.Lines("101\r\n");
  EXPECT_EQ(s.seen.credentialsWanted, 2);
  // Answered after the idle limit ended the update: still sent.
  s.Ticks(UpdateSession::kIdleLimit);
  EXPECT_EQ(s.session.Ending(), UpdateEnding::kTimedOut);
  s.session.AnswerCredentials("", "");
  EXPECT_EQ(s.peer->written, std::string("ab\0cd\r\n\0\r\n", 10));
  s.Lines("101\r\n");
  EXPECT_EQ(s.seen.credentialsWanted, 2);  // none once it has ended
}

TEST(UpdateSessionCheckOnly, ComparesThePlatformsAndSendsNothing) {
  struct Case {
    const char* lines;
    std::optional<bool> agree;
    UpdateEnding ending;
  };
  const Case cases[] = {
      {"100 x:RT40:y\r\n102\r\n103\r\n", true, UpdateEnding::kChecked},
      {"100 x:RT40-512:y\r\n", true, UpdateEnding::kChecked},
      {"100 x:ZX99:y\r\n102\r\n", false, UpdateEnding::kChecked},
      {"100 no colon\r\n", true, UpdateEnding::kChecked},
      {"102\r\n", true, UpdateEnding::kChecked},  // asked first: no platform named
      {"101\r\n", true, UpdateEnding::kChecked},  // nor credentials asked
      {"250 No\r\n", std::nullopt, UpdateEnding::kRefused},
  };
  UpdateSession::Choices check;
  check.checkOnly = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    Session s(check);
    s.Start();
    s.Lines(c.lines);
    EXPECT_EQ(s.session.PlatformsAgreed(), c.agree);
    EXPECT_EQ(s.session.Ending(), c.ending);
    EXPECT_EQ(s.peer->written, "");
    EXPECT_EQ(s.seen.credentialsWanted, 0);
  }
}

// A request and the answer it gets, for the bounds below.
struct Request {
  const char* line;
  std::string answer;
  int mostRepeats;  // well past what the module may ask and not take
};

std::vector<Request> Requests() {
  return {
      {"101\r\n", std::string("u\0p\r\n", 5), 6000},
      {"102\r\n", std::string("\0\0\x01\0\0\0\0\x20", 8), 3000},
      {"103\r\n", kBytes, 600},
      {"105\r\n", "D", 17000},
  };
}

TEST(UpdateSessionBounds, AskedAgainWhileItsAnswerWaitsIsAnsweredOnce) {
  for (const Request& r : Requests()) {
    SCOPED_TRACE(r.line);
    Session s;
    s.StartWithAModuleThatReadsNothing();
    s.Lines(Repeated(r.line, 3));
    EXPECT_EQ(s.peer->written, r.answer);
    s.peer->peerReadsNothing = false;  // the module has taken it
    s.Lines(r.line);
    EXPECT_EQ(s.peer->written, r.answer + r.answer);
    EXPECT_FALSE(s.session.Ended());
    EXPECT_TRUE(s.seen.messages.empty());
  }
}

TEST(UpdateSessionBounds, AModuleThatKeepsAskingAndTakesNothingIsNoLongerAnswered) {
  for (const Request& r : Requests()) {
    SCOPED_TRACE(r.line);
    Session s;
    s.StartWithAModuleThatReadsNothing();
    s.Lines(Repeated(r.line, r.mostRepeats));
    EXPECT_EQ(s.session.Ending(), UpdateEnding::kConnectionFailed);
    EXPECT_EQ(s.seen.messages, (std::vector<std::string>{"Error: Module stopped reading"}));
    s.Lines(Repeated("101\r\n102\r\n103\r\n105\r\n", 10));
    EXPECT_EQ(s.peer->written, r.answer);
  }
}

}  // namespace
}  // namespace tl
