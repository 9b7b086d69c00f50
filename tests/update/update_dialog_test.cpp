// The update exchange on the test host: virtual clock, fake connection,
// scripted users.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/layout.h"
#include "tests/support/test_host.h"
#include "update/update_dialog.h"
#include "update/update_socket.h"

namespace tl {
namespace {

using test::FakeTcpSocket;
using test::TestHost;

// An S-record file: an S0 line with the platform, then S1 records.
std::string SRecordFile(const std::string& platform, std::uint16_t start,
                        const std::string& data) {
  std::string text = "S0" + platform + "\r\n";
  for (std::size_t offset = 0; offset < data.size(); offset += 16) {
    std::string chunk = data.substr(offset, 16);
    auto address = static_cast<std::uint16_t>(start + offset);
    unsigned count = static_cast<unsigned>(chunk.size()) + 3;
    unsigned sum = count + (address >> 8) + (address & 0xFF);
    char head[16];
    std::snprintf(head, sizeof head, "S1%02X%04X", count, address);
    text += head;
    for (unsigned char c : chunk) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", c);
      text += hex;
      sum += c;
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "%02X\r\n", 0xFF - (sum & 0xFF));
    text += tail;
  }
  return text;
}

constexpr std::uint32_t kModule = 0x0A000105;  // 10.0.1.5
const std::string kImage = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // 32 bytes, at 0x0100

// One update dialog run on the test host.
struct Update {
  explicit Update(const std::string& platform = "RT40", int reboot = 0)
      : file(host.registryDir.Write("demo_APP.s19", SRecordFile(platform, 0x0100, kImage))),
        dialog(file, kModule, reboot, nullptr) {
    host.ui.hooks().onProgress = [this](HeadlessWindow&, int id, int position) {
      if (id == kIdProgress) progress.push_back(position);
    };
  }
  // Runs the dialog; `user` acts once it is shown, with the connection made.
  int Run(std::function<void()> user) {
    host.OnDialog(kDialogUpdate, [this, user](HeadlessWindow& w) {
      window = &w;
      socket = host.net.LastTcp();
      if (user) user();
    });
    result = dialog.DoModal();
    if (FakeTcpSocket* s = host.net.LastTcp()) written = s->written;
    return result;
  }
  void Lines(const std::string& bytes) { socket->Deliver(bytes); }
  std::vector<std::string> Messages() const { return host.Messages(); }

  TestHost host;
  std::string file;
  UpdateDialog dialog;
  HeadlessWindow* window = nullptr;
  FakeTcpSocket* socket = nullptr;
  std::string written;
  std::vector<int> progress;
  int result = 0;
};

std::string Placement(std::uint32_t start, std::uint32_t length) {
  std::string bytes;
  for (std::uint32_t v : {start, length}) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((v >> shift) & 0xFF));
  }
  return bytes;
}

// ---------------------------------------------------------------- each code

TEST(UpdateCodes, NormalRunAnswersEveryStepAndEndsOk) {
  Update u;
  u.Run([&] {
    EXPECT_EQ(u.socket->address, kModule);
    EXPECT_EQ(u.socket->port, 20034);
    u.socket->CompleteConnect(0);
    EXPECT_EQ(u.socket->written, "");  // nothing on connect
    u.Lines("100 Ombrelin:RT40:1.0\r\n");
    u.Lines("102 placement\r\n");
    EXPECT_EQ(u.socket->written, Placement(0x0100, 32));
    EXPECT_EQ(u.socket->writes.size(), 2u);
    u.Lines("103 image\r\n");
    u.Lines("350\r\n");
    u.Lines("105 reboot?\r\n");
    u.Lines("106 done\r\n");
  });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_EQ(u.written, Placement(0x0100, 32) + kImage + "D");
  EXPECT_TRUE(u.Messages().empty());
  EXPECT_EQ(u.progress, (std::vector<int>{0, 50}));
}

TEST(UpdateCodes, RebootChoiceAnd107) {
  Update u("RT40", 1);
  u.Run([&] { u.Lines("105\r\n107 done\r\n"); });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_EQ(u.written, "R");
}

TEST(UpdateCodes, PlatformCheck) {
  struct Case {
    const char* file;
    const char* line100;  // nullptr: no 100 line
    bool agree;
  };
  const Case cases[] = {
      {"RT40", "100 RT40", true},               // no colon: no check
      {"RT40", "100 x:", true},                 // nothing after the colon
      {"RT40", "100 x::y", true},               // empty between the colons
      {"RT40", nullptr, true},
      {"RT40", "100 x:RT40", true},             // up to the end of the line
      {"RT40", "100 x:RT40-512:y", true},       // the variant takes plain images
      {"RT40-512", "100 x:RT40:y", false},      // but not the other way round
      {"RT40", "100 x:rt40:y", false},          // exact bytes
      {"", "100 x:RT40:y", false},              // the file names no platform
      {"RT40", "100 x:RT4:y", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " / " + (c.line100 ? c.line100 : "-"));
    Update u(c.file);
    u.Run([&] {
      if (c.line100) u.Lines(std::string(c.line100) + "\r\n");
      u.Lines("102\r\n106\r\n");
    });
    EXPECT_EQ(u.result, kResultOk);
    EXPECT_EQ(u.written, c.agree ? Placement(0x0100, 32) : std::string(8, '\0'));
    EXPECT_TRUE(u.Messages().empty());
  }
}

TEST(UpdateCodes, ErrorLinesShowTheirTextAndCancel) {
  struct Case {
    std::string line;
    std::string message;
  };
  const Case cases[] = {
      {"250 Bad image", "Error: Bad image"},
      {"201", "Error:"},
      {"300 last", "Error: last"},
      {"  +299x", "Error:299x"},  // the text from its fourth character, whatever it is
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Update u;
    u.Run([&] {
      u.Lines(c.line + "\r\n");
      EXPECT_TRUE(u.window->RunningTimers().empty());  // stopped once the box closed
    });
    EXPECT_EQ(u.result, kResultCancel);
    EXPECT_EQ(u.Messages(), (std::vector<std::string>{c.message}));
    EXPECT_EQ(u.written, "");
  }
}

TEST(UpdateCodes, ProgramOwnLinesForConnectAndReceiveErrors) {
  {
    Update u;
    u.Run([&] { u.socket->CompleteConnect(111); });
    EXPECT_EQ(u.result, kResultCancel);
    EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: Connect error"}));
  }
  {
    Update u;
    u.Run([&] { u.socket->SignalReceiveError(104); });
    EXPECT_EQ(u.result, kResultCancel);
    EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: Receive error"}));
  }
}

TEST(UpdateCodes, OtherCodesOnlyRestartTheIdleCount) {
  Update u;
  u.Run([&] {
    u.host.After(29000, [&] {
      u.Lines("104\r\n108 x\r\n0\r\n\r\n200 x\r\n99\r\nhello\r\n-250 x\r\n");
    });
    u.host.After(58000, [&] { u.Lines("106\r\n"); });  // 29 s after: not yet timed out
  });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_TRUE(u.Messages().empty());
  EXPECT_EQ(u.written, "");
  EXPECT_EQ(u.progress, (std::vector<int>{0}));
}

TEST(UpdateCodes, ProgressLimits) {
  Update u;
  u.Run([&] { u.Lines("301\r\n400\r\n450\r\n2147483647\r\n106\r\n"); });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_EQ(u.progress, (std::vector<int>{0, 1, 100, 100, 100}));
  Update v;
  v.Run([&] { v.Lines("300\r\n"); });
  EXPECT_EQ(v.result, kResultCancel);
  EXPECT_EQ(v.Messages(), (std::vector<std::string>{"Error:"}));
}

TEST(UpdateCodes, SendErrorOnlyWhenTheWriteTakesFewerBytes) {
  Update u;
  u.Run([&] {
    u.socket->writeLimit = 10;
    u.Lines("103\r\n");
    u.socket->writeLimit = -1;
    u.Lines("105\r\n106\r\n");  // the exchange goes on
  });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Send Error"}));
  EXPECT_EQ(u.written, kImage.substr(0, 10) + "D");
}

TEST(UpdateCodes, AgainWhileTheImageIsStillQueuedSendsNothingMore) {
  // A module that asks for the image again and again without reading it
  // must not make the program queue one copy per line.
  Update u;
  u.Run([&] {
    u.Lines("103\r\n");
    u.socket->queued = 5;  // the end of the image has not gone yet
    u.Lines("103\r\n103\r\n");
    u.socket->queued = 0;  // gone: a later request is answered again
    u.Lines("103\r\n106\r\n");
  });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_EQ(u.written, kImage + kImage);
  EXPECT_TRUE(u.Messages().empty());
}

// ---------------------------------------------------------------- line assembly

TEST(UpdateLines, TwoLinesInOneReadAreHandledInOrder) {
  Update u;
  u.Run([&] { u.Lines("100 a:RT40:b\r\n102\r\n"); });
  // 102 saw the platform of the 100 before it; the dialog still runs.
  EXPECT_EQ(u.result, kResultCancel);  // ended by the time-out
  EXPECT_EQ(u.written, Placement(0x0100, 32));
}

TEST(UpdateLines, DoneFollowedByAnErrorLineShowsItsBoxAndEndsCancelled) {
  // The last ending asked for counts, and the late error says why; once the
  // update has ended cancelled, lines open no further boxes.
  Update u;
  u.Run([&] { u.Lines("106 done\r\n250 Late error\r\n251 Later\r\n"); });
  EXPECT_EQ(u.result, kResultCancel);
  EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: Late error"}));
}

TEST(UpdateLines, AtMostOneBoxAndOnePromptOfTheUpdateAtATime) {
  // A module that keeps sending error or 101 lines while the first box or
  // prompt is open must not pile up nested boxes.
  struct Case {
    const char* line;
    std::size_t boxes, prompts;
  };
  const Case cases[] = {{"250 Bad image\r\n", 1, 0}, {"101 Password\r\n", 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Update u;
    std::size_t mostBoxes = 0;
    int prompts = 0;
    u.host.ui.hooks().onMessageBox = [&](HeadlessMessageBox& box) {
      mostBoxes = std::max(mostBoxes, u.host.ui.OpenBoxes().size());
      HeadlessMessageBox* b = &box;
      u.host.After(1000, [b] { b->Close(); });
    };
    auto flood = [&] {
      std::string lines;
      for (int i = 0; i < 2000; ++i) lines += c.line;
      u.Lines(lines);
    };
    u.host.OnDialog(kDialogCredentials, [&](HeadlessWindow& w) {
      ++prompts;
      flood();  // more lines while the prompt is open
      HeadlessWindow* p = &w;
      u.host.After(1000, [p] { p->Press(kIdCancel); });
    });
    u.Run(flood);
    EXPECT_EQ(mostBoxes, c.boxes);
    EXPECT_EQ(static_cast<std::size_t>(prompts), c.prompts);
    EXPECT_EQ(u.result, kResultCancel);
  }
}

TEST(UpdateLines, LoneLfOrCrStaysInTheLine) {
  Update u;
  u.Run([&] { u.Lines("250 a\nb\rc\r\r\n"); });
  EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: a\nb\rc\r"}));
}

TEST(UpdateLines, LineSplitAcrossReadsIsOneLine) {
  Update u;
  u.Run([&] {
    for (char c : std::string("250 split\r\n")) u.Lines(std::string(1, c));
  });
  EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: split"}));
}

TEST(UpdateLines, CodeParsing) {
  EXPECT_EQ(UpdateSocket::ParseCode("250 x"), 250);
  EXPECT_EQ(UpdateSocket::ParseCode(" \t+301"), 301);
  EXPECT_EQ(UpdateSocket::ParseCode("-5"), -5);
  EXPECT_EQ(UpdateSocket::ParseCode("x250"), 0);
  EXPECT_EQ(UpdateSocket::ParseCode(""), 0);
  EXPECT_EQ(UpdateSocket::ParseCode("+"), 0);
  EXPECT_EQ(UpdateSocket::ParseCode("2147483647"), INT_MAX);
  // Too large for an int: saturates, never wraps into a small code.
  EXPECT_EQ(UpdateSocket::ParseCode("4294967546 x"), INT_MAX);  // 2^32 + 250
  EXPECT_EQ(UpdateSocket::ParseCode("99999999999999999999999999"), INT_MAX);
  EXPECT_EQ(UpdateSocket::ParseCode("-2147483648"), INT_MIN);
  EXPECT_EQ(UpdateSocket::ParseCode("-4294967046"), INT_MIN);
}

TEST(UpdateLines, HugeCodeIsProgressNotAnError) {
  Update u;
  u.Run([&] { u.Lines("4294967546 wraps to 250\r\n106\r\n"); });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_TRUE(u.Messages().empty());
  EXPECT_EQ(u.progress.back(), 100);
}

// ---------------------------------------------------------------- credentials

TEST(UpdateCredentials, OkSendsNameZeroPasswordCrLf) {
  Update u;
  u.host.OnDialog(kDialogCredentials, [](HeadlessWindow& w) {
    EXPECT_EQ(w.Focus(), kIdOk);
    w.Type(kIdUserName, "ab");
    w.Type(kIdPassword, "cd");
    w.Press(kIdOk);
  });
  u.Run([&] { u.Lines("101 password?\r\n106\r\n"); });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_EQ(u.written, std::string("ab\0cd\r\n", 7));
  EXPECT_TRUE(u.Messages().empty());  // never shown anywhere
}

TEST(UpdateCredentials, EmptyCredentialsStillAnswer) {
  Update u;
  u.host.OnDialog(kDialogCredentials, [](HeadlessWindow& w) { w.Press(kIdOk); });
  u.Run([&] { u.Lines("101\r\n106\r\n"); });
  EXPECT_EQ(u.written, std::string("\0\r\n", 3));
}

TEST(UpdateCredentials, TwoPromptsBothStartEmpty) {
  Update u;
  std::vector<std::string> seen;
  for (int i = 0; i < 2; ++i) {
    u.host.OnDialog(kDialogCredentials, [&seen](HeadlessWindow& w) {
      seen.push_back(w.GetText(kIdUserName) + "|" + w.GetText(kIdPassword));
      w.Type(kIdUserName, "u");
      w.Type(kIdPassword, "p");
      w.Press(kIdOk);
    });
  }
  u.Run([&] { u.Lines("101\r\n101\r\n106\r\n"); });
  EXPECT_EQ(seen, (std::vector<std::string>{"|", "|"}));
  EXPECT_EQ(u.written, std::string("u\0p\r\nu\0p\r\n", 10));
}

TEST(UpdateCredentials, CancelEndsCancelledAndSendsNothing) {
  Update u;
  u.host.OnDialog(kDialogCredentials, [](HeadlessWindow& w) {
    w.Type(kIdPassword, "secret");
    w.Press(kIdCancel);
  });
  u.Run([&] { u.Lines("101\r\n"); });
  EXPECT_EQ(u.result, kResultCancel);
  EXPECT_EQ(u.written, "");
}

TEST(UpdateCredentials, PromptLeftOpenTimesOutButStillSendsWhenClosed) {
  Update u;
  HeadlessWindow* prompt = nullptr;
  bool promptOpenAfterTimeout = false;
  bool updateEndAsked = false;
  u.host.OnDialog(kDialogCredentials, [&](HeadlessWindow& w) { prompt = &w; });
  u.Run([&] {
    u.host.After(31000, [&] {
      promptOpenAfterTimeout = u.host.ui.WindowOf(kDialogCredentials) != nullptr;
      updateEndAsked = u.window->Ended();
    });
    u.host.After(40000, [&] {
      prompt->Type(kIdPassword, "p");
      prompt->Press(kIdOk);
    });
    u.Lines("101\r\n");  // returns when the prompt closes
  });
  EXPECT_TRUE(promptOpenAfterTimeout);
  EXPECT_TRUE(updateEndAsked);
  EXPECT_EQ(u.result, kResultCancel);
  EXPECT_EQ(u.written, std::string("\0p\r\n", 4));
  EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: Timed out"}));
}

// ---------------------------------------------------------------- idle rule

TEST(UpdateIdle, ThirtyTicksWithoutALineTimeOut) {
  Update u;
  bool runningAt49s = false;
  u.Run([&] {
    u.host.After(20500, [&] { u.Lines("104\r\n"); });  // restarts the count
    u.host.After(49900, [&] { runningAt49s = !u.window->Ended(); });
  });
  EXPECT_TRUE(runningAt49s);
  EXPECT_EQ(u.host.loop.NowMs(), 50000u);  // the 30th tick after the line
  EXPECT_EQ(u.result, kResultCancel);
  EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: Timed out"}));
  EXPECT_EQ(u.progress, (std::vector<int>{0}));  // the timer never moves the bar
}

TEST(UpdateIdle, ErrorBoxLeftOpenGetsNoSecondBoxOnTop) {
  Update u;
  std::size_t boxesWhenSecondShown = 0;
  bool timerRunningAt29s = false;
  // The first box stays open 35 s, later ones are closed at once.
  u.host.ui.hooks().onMessageBox = [&](HeadlessMessageBox& box) {
    if (u.host.ui.OpenBoxes().size() == 1) {
      HeadlessMessageBox* b = &box;
      u.host.After(35000, [b] { b->Close(); });
      return;
    }
    boxesWhenSecondShown = u.host.ui.OpenBoxes().size();
    box.Close();
  };
  u.Run([&] {
    u.host.After(29000, [&] { timerRunningAt29s = !u.window->RunningTimers().empty(); });
    u.Lines("250 Bad image\r\n");
  });
  EXPECT_EQ(boxesWhenSecondShown, 0u);  // one box of the update at a time
  EXPECT_TRUE(timerRunningAt29s);       // the time-out still ends the update
  EXPECT_EQ(u.host.loop.NowMs(), 35000u);
  EXPECT_EQ(u.result, kResultCancel);
  EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: Bad image"}));
}

TEST(UpdateIdle, SocketThatCannotBeCreated) {
  Update u;
  u.host.net.tcpCreateFails = true;
  u.host.net.lastError = 10055;
  u.Run(nullptr);
  EXPECT_EQ(u.result, kResultCancel);
  EXPECT_EQ(u.Messages(),
            (std::vector<std::string>{"Error on Connect = 10055 for 0", "Error: Timed out"}));
}

TEST(UpdateIdle, ModuleThatClosesIsTimedOut) {
  Update u;
  u.Run([&] {
    u.Lines("100 x:RT40:y\r\n");
    u.Lines("");  // readable, nothing to read: the peer closed
  });
  EXPECT_EQ(u.result, kResultCancel);
  EXPECT_EQ(u.Messages(), (std::vector<std::string>{"Error: Timed out"}));
}

// ---------------------------------------------------------------- start and end

TEST(UpdateStart, FileThatFailsToLoadNeverConnects) {
  TestHost host;
  UpdateDialog dialog(host.registryDir.File("missing_APP.s19"), kModule, 0, nullptr);
  EXPECT_EQ(dialog.DoModal(), kResultCancel);
  EXPECT_EQ(host.net.tcpConnects, 0);
  ASSERT_FALSE(host.Messages().empty());
  EXPECT_EQ(host.Messages().front(), "Failed to open file");
}

TEST(UpdateStart, CancelBeforeTheFirstLineWritesNothingAndCloses) {
  bool destroyed = false;
  {
    Update u;
    u.Run([&] {
      u.socket->destroyed = &destroyed;
      EXPECT_EQ(u.window->Focus(), kIdCancel);
      u.window->Press(kIdCancel);
    });
    EXPECT_EQ(u.result, kResultCancel);
    EXPECT_EQ(u.written, "");
    EXPECT_TRUE(u.Messages().empty());
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);  // closed with the dialog
}

TEST(UpdateStart, CancelAfterCompletionEndsOk) {
  // The module reports completion while the credentials prompt is open;
  // cancelling the prompt then ends the update as done.
  Update u;
  u.host.OnDialog(kDialogCredentials, [&](HeadlessWindow& w) {
    u.Lines("106 done\r\n");
    w.Press(kIdCancel);
  });
  u.Run([&] { u.Lines("101\r\n"); });
  EXPECT_EQ(u.result, kResultOk);
  EXPECT_EQ(u.written, "");
}

}  // namespace
}  // namespace tl
