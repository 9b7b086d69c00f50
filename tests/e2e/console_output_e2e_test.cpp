// What tideload-cli prints: texts from modules and files decoded from the
// code page, and on a terminal with their control characters escaped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/pty_child.h"

namespace e2e {
namespace {

constexpr int kLong = 60000;


// A file whose S0 line carries the platform text.
std::string FileWithPlatform(const std::string& platform) {
  std::string path = TempFile("text_APP.s19");
  WriteSRecordFile(path, platform, 0x10000, PatternBytes(300, 4));
  return path;
}

bool HasRawControl(const std::string& text) {
  for (unsigned char c : text) {
    if ((c < 0x20 && c != '\r' && c != '\n') || c == 0x7F) return true;
  }
  return false;
}

struct Case {
  const char* what;
  std::vector<std::string> simArgs;  // empty: no module needed
  std::vector<std::string> cliArgs;  // after the program; "@ADDR" is the sim's address
  std::string expected;
};

// The module the case needs, if any.
Sim SimFor(const Case& c) { return c.simArgs.empty() ? Sim{} : StartSim(c.simArgs); }

std::vector<std::string> Argv(const Case& c, const std::string& address) {
  std::vector<std::string> argv = {Cli()};
  for (const std::string& a : c.cliArgs) argv.push_back(a == "@ADDR" ? address : a);
  return argv;
}

TEST(ConsoleOutput, TerminalGetsControlCharactersEscaped) {
  const std::string file = FileWithPlatform("RT\x1b[2J\x9d\xe9");
  const Case cases[] = {
      {"module line", {"--error-at", "100", "--error-line", "250 \x1b]0;title\x07 set"},
       {"update", "@ADDR", SourceDir() + "/examples/demo_APP.s19"},
       "Error: \\x1b]0;title\\x07 set\r\nUpdate Failed\r\n"},
      {"platform name", {}, {"inspect", file}, "Platform:      RT\\x1b[2J\\x9d\xc3\xa9\r\n"},
      {"command name", {}, {"\x1b[31m"}, "unknown command '\\x1b[31m'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sim sim = SimFor(c);
    if (!c.simArgs.empty()) {
      ASSERT_NE(sim.child, nullptr);
    }
    PtyChild cli(Argv(c, sim.address));
    cli.Wait(kLong);
    EXPECT_NE(cli.Output().find(c.expected), std::string::npos) << cli.Output();
    EXPECT_FALSE(HasRawControl(cli.Output())) << cli.Output();
  }
}

TEST(ConsoleOutput, PipesGetTheCodePageAsUtf8AndJsonByCodePoint) {
  // 0x80 is the euro sign, 0xE9 e acute, and UTF-8 bytes are two characters.
  const std::string file = FileWithPlatform("P\x80\xe9\xc3\xa9");
  const Case cases[] = {
      {"inspect", {}, {"inspect", file}, "Platform:      P\xe2\x82\xac\xc3\xa9\xc3\x83\xc2\xa9\n"},
      {"inspect --json", {}, {"inspect", "--json", file},
       "{\"platform\": \"P\\u20ac\\u00e9\\u00c3\\u00a9\", "},
      {"update", {"--error-at", "100", "--error-line", "250 Caf\xe9 \x80"},
       {"update", "@ADDR", SourceDir() + "/examples/demo_APP.s19"},
       "Error: Caf\xc3\xa9 \xe2\x82\xac\nUpdate Failed\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sim sim = SimFor(c);
    if (!c.simArgs.empty()) {
      ASSERT_NE(sim.child, nullptr);
    }
    Child cli(Argv(c, sim.address));
    Finished f = cli.Wait(kLong);
    EXPECT_NE((f.out + f.err).find(c.expected), std::string::npos) << f.out << f.err;
  }
}

}  // namespace
}  // namespace e2e
