// tideload-cli update and the update dialog against tideload-sim over real
// loopback sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/console/console_host.h"
#include "platform/core/layout.h"
#include "tests/e2e/e2e_support.h"
#include "update/update_dialog.h"

namespace e2e {
namespace {

constexpr std::uint32_t kStart = 0x00010000;
constexpr int kLong = 90000;  // ms; the idle time-out is 30 s

struct Outcome {
  Finished cli;
  Finished sim;
};

// A sample file of `size` pattern bytes for the platform.
std::string MakeFile(std::size_t size, const std::string& platform = "RT40",
                     std::uint32_t seed = 1) {
  std::string path = TempFile("demo_APP.s19");
  WriteSRecordFile(path, platform, kStart, PatternBytes(size, seed));
  return path;
}

// Runs `tideload-cli update` against a sim started with simArgs.
Outcome Update(const std::vector<std::string>& simArgs, const std::string& file,
               std::vector<std::string> cliArgs = {},
               const std::map<std::string, std::string>& env = {}) {
  Sim sim = StartSim(simArgs);
  EXPECT_NE(sim.child, nullptr) << "no sim";
  if (sim.child == nullptr) return {};
  std::vector<std::string> argv = {BuildDir() + "/tideload-cli", "update"};
  argv.insert(argv.end(), cliArgs.begin(), cliArgs.end());
  argv.push_back(sim.address);
  argv.push_back(file);
  Child cli(argv, env);
  Outcome o;
  o.cli = cli.Wait(kLong);
  o.sim = sim.child->Wait(10000);
  return o;
}

std::vector<std::string> BoxLines(const std::string& err) {
  // The message lines among the progress lines.
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < err.size()) {
    std::size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    std::string line = err.substr(start, end - start);
    if (line.rfind("Percent Complete", 0) != 0) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

TEST(UpdateEndToEnd, SampleFileArrivesByteExact) {
  std::string saved = TempFile("image.bin");
  std::string file = SourceDir() + "/examples/demo_APP.s19";
  Outcome o = Update({"--save", saved, "--expect-reboot", "D"}, file);
  EXPECT_EQ(o.cli.status, 0) << o.cli.err;
  EXPECT_EQ(o.sim.status, 0) << o.sim.err;
  EXPECT_EQ(BoxLines(o.cli.err), (std::vector<std::string>{"Programming Complete without Error."}));
  EXPECT_NE(o.cli.err.find("Percent Complete 100%"), std::string::npos);
  EXPECT_EQ(ReadFile(saved).size(), 65536u);
}

TEST(UpdateEndToEnd, SixteenMegabyteImageByteExact) {
  const std::size_t size = 16u << 20;
  std::string file = MakeFile(size, "RT40", 16);
  std::string saved = TempFile("image16.bin");
  Outcome o = Update({"--save", saved, "--expect-length", std::to_string(size), "--expect-reboot",
                      "R", "--end", "107"},
                     file, {"--reboot"});
  EXPECT_EQ(o.cli.status, 0) << o.cli.err;
  EXPECT_EQ(o.sim.status, 0) << o.sim.err;
  std::string got = ReadFile(saved);
  ASSERT_EQ(got.size(), size);
  EXPECT_TRUE(got == PatternBytes(size, 16));
}

TEST(UpdateEndToEnd, LineShapesTheModuleMaySend) {
  // Byte by byte, many lines per send, an over-long line, the -512 variant.
  const std::vector<std::vector<std::string>> variants = {
      {"--byte-by-byte"}, {"--batch"}, {"--long-line"}, {"--variant-512"},
      {"--batch", "--long-line", "--progress-step", "7"}};
  std::string file = MakeFile(3000);
  for (const auto& v : variants) {
    SCOPED_TRACE(v.front());
    std::string saved = TempFile("image.bin");
    std::vector<std::string> args = v;
    args.insert(args.end(), {"--save", saved});
    Outcome o = Update(args, file);
    EXPECT_EQ(o.cli.status, 0) << o.cli.err;
    EXPECT_EQ(o.sim.status, 0) << o.sim.err;
    EXPECT_EQ(ReadFile(saved), PatternBytes(3000, 1));
  }
}

TEST(UpdateEndToEnd, CredentialsFromTheEnvironmentAndNeverPrinted) {
  std::string file = MakeFile(1000);
  const std::string secret = "s3cr3t-Pa55";
  Outcome ok = Update({"--user", "admin", "--password", secret}, file, {"--user", "admin"},
                      {{"TIDELOAD_PASSWORD", secret}});
  EXPECT_EQ(ok.cli.status, 0) << ok.cli.err;
  EXPECT_EQ(ok.sim.status, 0) << ok.sim.err;
  for (const std::string& text : {ok.cli.err, ok.cli.out, ok.sim.err, ok.sim.out}) {
    EXPECT_EQ(text.find(secret), std::string::npos);
  }

  Outcome wrong = Update({"--user", "admin", "--password", secret}, file, {"--user", "admin"},
                         {{"TIDELOAD_PASSWORD", "guess"}});
  EXPECT_EQ(wrong.cli.status, 6);
  EXPECT_EQ(BoxLines(wrong.cli.err),
            (std::vector<std::string>{"Error: Bad password", "Update Failed"}));
  EXPECT_EQ(wrong.cli.err.find("guess"), std::string::npos);

  // No password and no terminal: the prompt is cancelled, nothing is sent.
  Outcome none = Update({"--user", "admin", "--password", secret}, file, {"--user", "admin"});
  EXPECT_EQ(none.cli.status, 130);
  EXPECT_NE(none.cli.err.find("Update Failed"), std::string::npos);
}

TEST(UpdateEndToEnd, EveryEndingHasTheExitStatusOfItsClass) {
  // Side by side, so that the time-outs are waited for once. A module that
  // closes or resets the connection ends the console's update at once.
  const std::string file = MakeFile(5000);
  const std::string big = MakeFile(16u << 20, "RT40", 3);
  struct Case {
    std::vector<std::string> sim;  // empty: nobody listens at the address
    std::string file;
    int status;
    std::string result;
    std::vector<std::string> boxes;  // before "Update Failed"
    bool atOnce = false;             // well before the idle time-out
  };
  const Case cases[] = {
      {{"--wrong-platform"}, file, 6, "refused", {"Error: Wrong platform"}},
      {{"--error-at", "100"}, file, 6, "refused", {"Error: Bad image"}},
      {{"--error-at", "102", "--error-line", "222 No room"}, file, 6, "refused", {"Error: No room"}},
      {{"--error-at", "103"}, file, 6, "refused", {"Error: Bad image"}},
      {{"--error-at", "301", "--error-line", "300"}, file, 6, "refused", {"Error:"}},
      {{"--error-at", "105"}, file, 6, "refused", {"Error: Bad image"}},
      {{"--error-at", "106", "--error-line", "299 Flash failed"}, file, 6, "refused", {"Error: Flash failed"}},
      {{}, file, 4, "connection-failed", {"Error: Connect error"}, true},
      {{"--close-mid-image"}, file, 4, "connection-failed", {"Error: Connection closed by module"}, true},
      {{"--reset-mid-image"}, big, 4, "connection-failed", {"Error: Connection closed by module"}, true},
      {{"--silent-at", "103"}, file, 5, "timed-out", {"Error: Timed out"}},
      {{"--flood-at", "102"}, file, 5, "timed-out", {"Error: Timed out"}},  // bytes without a line
      {{"--repeat-at", "102"}, file, 4, "connection-failed", {"Error: Module stopped reading"}, true},
      // One byte an answer: millions of lines before the system's buffers are full.
      {{"--repeat-at", "105"}, file, 4, "connection-failed", {"Error: Module stopped reading"}},
      {{"--late-error", "--error-line", "250 Late error"}, file, 6, "refused", {"Error: Late error"}, true},
      {{}, TempFile("missing_APP.s19"), 3, "load-failed", {"Failed to open file"}},
  };
  // An address bound without a listener refuses every connect.
  int refuser = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(20034);
  sa.sin_addr.s_addr = htonl((127u << 24) | (202u << 16) | (78u << 8) | 10u);
  ASSERT_EQ(::bind(refuser, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  struct Run {
    Sim sim;
    std::unique_ptr<Child> cli;
  };
  std::vector<Run> runs;
  for (const Case& c : cases) {
    Run r;
    if (!c.sim.empty()) {
      r.sim = StartSim(c.sim);
      ASSERT_NE(r.sim.child, nullptr);
    }
    r.cli = std::make_unique<Child>(std::vector<std::string>{
        BuildDir() + "/tideload-cli", "update", "--json", c.sim.empty() ? "127.202.78.10" : r.sim.address, c.file});
    runs.push_back(std::move(r));
  }
  // The desktop program's logic on the same sockets still waits for the
  // idle rule when the module closes.
  {
    Sim closing = StartSim({"--close-mid-image"});
    ASSERT_NE(closing.child, nullptr);
    tl::ConsoleHost host("tideload-e2e");
    host.network.Startup(1, 1, nullptr, nullptr);
    tl::UpdateDialog update(file, closing.hostOrder, 0, nullptr);
    EXPECT_EQ(update.DoModal(), tl::kResultCancel);
    EXPECT_EQ(host.ui.Messages(), (std::vector<std::string>{"Error: Timed out"}));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.sim.empty() ? c.file : c.sim.front() + (c.sim.size() > 1 ? " " + c.sim[1] : ""));
    Finished cli = runs[i].cli->Wait(kLong);
    EXPECT_EQ(cli.status, c.status) << cli.err;
    EXPECT_EQ(JsonField(cli.out, "result"), "\"" + c.result + "\"") << cli.out;
    std::vector<std::string> boxes = c.boxes;
    boxes.push_back("Update Failed");
    EXPECT_EQ(BoxLines(cli.err), boxes);
    std::string messages;
    for (const std::string& box : boxes) messages += (messages.empty() ? "\"" : ", \"") + box + "\"";
    EXPECT_EQ(JsonField(cli.out, "messages"), "[" + messages + "]");
    if (c.atOnce) {
      EXPECT_LT(std::stod(JsonField(cli.out, "seconds")), 15.0) << cli.out;
    }
    if (runs[i].sim.child) {
      EXPECT_EQ(runs[i].sim.child->Wait(kLong).status, 0);  // the program behaved as a module expects
    }
  }
  ::close(refuser);
}

TEST(UpdateEndToEnd, FileThatFailsToLoadNeverConnects) {
  // A plain listener stands in for the module: nobody may connect to it.
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(20034);
  sa.sin_addr.s_addr = htonl((127u << 24) | (201u << 16) | (77u << 8) | 9u);
  int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  std::string bad = TempFile("bad_APP.s19");
  {
    std::FILE* f = std::fopen(bad.c_str(), "wb");
    std::fputs("S0RT40\r\nS1130000000102030405060708090A0B0C0D0E0F00\r\n", f);  // bad sum
    std::fclose(f);
  }
  for (const std::string& file : {TempFile("missing_APP.s19"), bad}) {
    Child cli({BuildDir() + "/tideload-cli", "update", "127.201.77.9", file});
    Finished f = cli.Wait(kLong);
    EXPECT_EQ(f.status, 3) << f.err;
    std::vector<std::string> boxes = BoxLines(f.err);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "Update Failed");
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0);  // no connection came
  }
  ::close(listener);
}

TEST(UpdateEndToEnd, CancelBeforeTheFirstLineWritesNothing) {
  // The module stays silent; the user cancels; the sim checks that the
  // connection closes without a byte.
  Sim sim = StartSim({"--silent-at", "100"});
  ASSERT_NE(sim.child, nullptr);
  std::string file = MakeFile(1000);
  int result = 0;
  {
    tl::ConsoleHost host("tideload-e2e");
    host.network.Startup(1, 1, nullptr, nullptr);
    host.ui.hooks().onDialogShown = [&host](tl::HeadlessWindow& w) {
      tl::HeadlessWindow* window = &w;
      host.loop.Post(300, [window] { window->Press(tl::kIdCancel); });
    };
    tl::UpdateDialog update(file, sim.hostOrder, 0, nullptr);
    result = update.DoModal();
    EXPECT_TRUE(host.ui.Messages().empty());
  }
  EXPECT_EQ(result, tl::kResultCancel);
  Finished f = sim.child->Wait(10000);
  EXPECT_EQ(f.status, 0) << f.err;
}

TEST(UpdateEndToEnd, CommandLineRefusesAPassword) {
  Child cli({BuildDir() + "/tideload-cli", "update", "--password", "x", "127.0.0.1", "f"});
  Finished f = cli.Wait(10000);
  EXPECT_EQ(f.status, 2);
  EXPECT_EQ(f.err.find(" x"), std::string::npos);
}

}  // namespace
}  // namespace e2e
