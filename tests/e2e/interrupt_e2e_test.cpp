// Ctrl-C at the terminal during tideload-cli update: the line is ended, the
// interruption said, the terminal as it was, the exit status 130.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/pty_child.h"

namespace e2e {
namespace {

constexpr int kLong = 60000;
const std::string kInterrupted = "\r\ntideload-cli: update interrupted\r\n";

std::string Tail(const std::string& text, std::size_t n) {
  return text.size() <= n ? text : text.substr(text.size() - n);
}

TEST(InterruptEndToEnd, CtrlCDuringTheProgressBar) {
  Sim sim = StartSim({"--pace", "40"});
  ASSERT_NE(sim.child, nullptr);
  PtyChild cli({BuildDir() + "/tideload-cli", "update", sim.address, SourceDir() + "/examples/demo_APP.s19"});
  ASSERT_TRUE(cli.WaitFor("Percent Complete [#", kLong)) << cli.Output();
  cli.Type("\x03");
  EXPECT_EQ(cli.Wait(kLong), 130) << cli.Output();
  // The bar's line (and the terminal's echo of the key) ends before the
  // word of the interruption; nothing after. The bar has the bytes sent of
  // the image, the rate and the time left beside the per cent.
  const std::string& out = cli.Output();
  const std::size_t bar = out.rfind("Percent Complete [");
  ASSERT_NE(bar, std::string::npos) << out;
  const std::size_t barEnd = out.rfind(" left") + 5;
  const std::string line = out.substr(bar, barEnd - bar);
  EXPECT_TRUE(std::regex_search(line, std::regex("\\] +[0-9]+% [0-9.]+ [KM]?i?B/64\\.0 KiB [0-9.]+ [KM]?i?B/s ([0-9]+:[0-9]{2}|--:--) left$")))
      << line;
  std::string afterBar = out.substr(barEnd);
  if (afterBar.rfind("^C", 0) == 0) afterBar.erase(0, 2);
  EXPECT_EQ(afterBar, kInterrupted) << out;
  EXPECT_EQ(cli.Output().find("Update Failed"), std::string::npos);
  EXPECT_NE(sim.child->Wait(kLong).status, -1);  // the module saw the connection go
}

TEST(InterruptEndToEnd, CtrlCAtThePasswordPrompt) {
  Sim sim = StartSim({"--user", "admin", "--password", "s3cr3t"});
  ASSERT_NE(sim.child, nullptr);
  PtyChild cli({BuildDir() + "/tideload-cli", "update", "--user", "admin", sim.address,
                SourceDir() + "/examples/demo_APP.s19"});
  const std::string prompt = "Password needed for admin: ";
  ASSERT_TRUE(cli.WaitFor(prompt, kLong)) << cli.Output();
  cli.Type("s3c\x03");
  EXPECT_EQ(cli.Wait(kLong), 130) << cli.Output();
  EXPECT_EQ(Tail(cli.Output(), prompt.size() + kInterrupted.size()), prompt + kInterrupted) << cli.Output();
  EXPECT_NE(cli.Settings().c_lflag & ECHO, 0u);  // echo is back on
  EXPECT_NE(sim.child->Wait(kLong).status, -1);
}

// Whether the process sleeps in a poll (its kernel wait channel).
bool WaitsInPoll(pid_t pid) { return ReadFile("/proc/" + std::to_string(pid) + "/wchan").find("poll") != std::string::npos; }

TEST(InterruptEndToEnd, CtrlCWhileAFileNamedIsAFifoWithoutAWriter) {
  const std::string fifo = TempFile("no_writer.fifo");
  ::unlink(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string demo = SourceDir() + "/examples/demo_APP.s19";
  const std::vector<std::vector<std::string>> calls = {
      {BuildDir() + "/tideload-cli", "update", "--from", fifo, demo},
      {BuildDir() + "/tideload-cli", "update", "--password-file", fifo, "127.0.0.1", demo},
  };
  for (const std::vector<std::string>& argv : calls) {
    SCOPED_TRACE(argv[2]);
    Child cli(argv);
    for (int i = 0; i < 3000 && cli.Running() && !WaitsInPoll(cli.Pid()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(WaitsInPoll(cli.Pid()));
    ::kill(cli.Pid(), SIGINT);
    Finished f = cli.Wait(kLong);
    EXPECT_EQ(f.status, 130) << f.err;
    EXPECT_EQ(f.err, "tideload-cli: update interrupted\n");  // an exit of its own, not the signal's
  }
}

}  // namespace
}  // namespace e2e
