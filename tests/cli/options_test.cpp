// tideload-cli's command lines: the outcome table, values, repeats, "--",
// the optional --verify number and the password refusal.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/options.h"

namespace tl::cli {
namespace {

TEST(ExitStatus, EachOutcomeHasItsOwnStatusAndNameButASkipSucceeds) {
  const struct {
    Outcome outcome;
    int status;
    const char* name;
  } expected[] = {
      {Outcome::kOk, 0, "ok"},           {Outcome::kFailed, 1, "failed"},
      {Outcome::kUsage, 2, "usage"},     {Outcome::kLoadFailed, 3, "load-failed"},
      {Outcome::kConnectionFailed, 4, "connection-failed"},
      {Outcome::kTimedOut, 5, "timed-out"},
      {Outcome::kRefused, 6, "refused"}, {Outcome::kStopped, 7, "stopped"},
      {Outcome::kDifferentDevice, 8, "different-device"},
      {Outcome::kWrongApp, 9, "wrong-app"},
      {Outcome::kCancelled, 130, "cancelled"}, {Outcome::kSkipped, 0, "skipped"},
  };
  std::set<int> statuses;
  for (const auto& e : expected) {
    EXPECT_EQ(ExitStatus(e.outcome), e.status) << e.name;
    EXPECT_STREQ(ResultName(e.outcome), e.name);
    statuses.insert(ExitStatus(e.outcome));
  }
  EXPECT_EQ(std::size(expected), std::size(kOutcomes));
  EXPECT_EQ(statuses.size(), std::size(kOutcomes) - 1);  // skipped and ok share 0
}

// Parses args with the command made by make; the status, if it ended.
template <typename Options, typename Make>
std::optional<int> Parse(Make make, Options& options, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return ParseCommandLine(*make(options), static_cast<int>(argv.size()), argv.data());
}

TEST(Options, UpdateValuesRepeatsAndTheOptionalVerifyNumber) {
  const struct {
    std::vector<std::string> args;
    std::optional<int> status;
    std::vector<std::string> operands;
    std::optional<double> verify;
    std::string user;
    std::size_t jobs;
  } cases[] = {
      {{"--reboot", "--verify", "1.2.3.4", "f"}, std::nullopt, {"1.2.3.4", "f"}, 60.0, "", 8},
      {{"--reboot", "--verify", "30", "1.2.3.4", "f"}, std::nullopt, {"1.2.3.4", "f"}, 30.0, "", 8},
      {{"--reboot", "--verify=7", "1.2.3.4", "f"}, std::nullopt, {"1.2.3.4", "f"}, 7.0, "", 8},
      {{"--verify", "0", "a", "f"}, 2, {}, std::nullopt, "", 8},
      {{"--verify=3601", "a", "f"}, 2, {}, std::nullopt, "", 8},
      {{"--user", "a", "--user=b", "--jobs", "3", "x", "f"}, std::nullopt, {"x", "f"}, std::nullopt, "b", 3},
      {{"--user", "--json", "x", "f"}, std::nullopt, {"x", "f"}, std::nullopt, "--json", 8},
      {{"--jobs", "0", "x", "f"}, 2, {}, std::nullopt, "", 8},
      {{"--jobs", "257", "x", "f"}, 2, {}, std::nullopt, "", 8},
      {{"--jobs", "08", "x", "f"}, 2, {}, std::nullopt, "", 8},
      {{"x", "--", "--json", "--verify", "5"}, std::nullopt, {"x", "--json", "--verify", "5"}, std::nullopt, "", 8},
      {{"x", "f", "--user"}, 2, {}, std::nullopt, "", 8},
      {{"--json=1", "x", "f"}, 2, {}, std::nullopt, "", 8},
      {{"--bogus", "x", "f"}, 2, {}, std::nullopt, "", 8},
      {{"--help"}, 0, {}, std::nullopt, "", 8},
      {{"--version"}, 0, {}, std::nullopt, "", 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    UpdateOptions o;
    EXPECT_EQ(Parse(UpdateCommand, o, c.args), c.status);
    if (c.status) continue;
    EXPECT_EQ(o.operands, c.operands);
    EXPECT_EQ(o.verifySeconds, c.verify);
    EXPECT_EQ(o.user, c.user);
    EXPECT_EQ(o.jobs, c.jobs);
  }
}

TEST(Options, FindChecksEveryValueAndKeepsEachRepeat) {
  const struct {
    std::vector<std::string> args;
    bool good;
  } cases[] = {
      {{"--seconds", "0.5"}, true}, {{"--seconds=-0"}, true},      {{"--seconds", "nan"}, false},
      {{"--seconds", "3601"}, false}, {{"--seconds", "0x1p3"}, false}, {{"--seconds", ""}, false},
      {{"--expect", "10000"}, true},  {{"--expect", "10001"}, false},  {{"--expect", "-1"}, false},
      {{"--to", "10.0.0.1"}, true},   {{"--to", "0.0.0.0"}, false},    {{"--to", "10.0.0"}, false},
      {{"--sort", "name"}, true},     {{"--sort", "size"}, false},     {{"extra"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    FindOptions o;
    EXPECT_EQ(Parse(FindCommand, o, c.args), c.good ? std::nullopt : std::optional<int>(2));
  }
  FindOptions o;
  ASSERT_EQ(Parse(FindCommand, o, {"--to", "10.0.0.1", "--interface=eth0", "--to=10.0.0.2", "--interface", "eth1",
                                   "--sort", "address", "--seconds", "2.5", "--expect", "4"}),
            std::nullopt);
  EXPECT_EQ(o.to, (std::vector<std::uint32_t>{0x0A000001, 0x0A000002}));
  EXPECT_EQ(o.interfaces, (std::vector<std::string>{"eth0", "eth1"}));
  EXPECT_EQ(o.sort, FindSort::kAddress);
  EXPECT_EQ(o.seconds, 2.5);
  EXPECT_EQ(o.expect, std::optional<std::size_t>(4));
}

TEST(Options, InspectTakesOneFileAndTheShortOutput) {
  InspectOptions o;
  ASSERT_EQ(Parse(InspectCommand, o, {"-o", "image.bin", "app.s19"}), std::nullopt);
  EXPECT_EQ(o.output, std::optional<std::string>("image.bin"));
  EXPECT_EQ(o.file, "app.s19");
  for (const std::vector<std::string>& bad : {std::vector<std::string>{}, {"a", "b"}, {"-o"}}) {
    InspectOptions other;
    EXPECT_EQ(Parse(InspectCommand, other, bad), 2) << testing::PrintToString(bad);
  }
}

TEST(Options, UpdateRefusesAPasswordOnTheCommandLineFirst) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--password", "x", "1.2.3.4", "f"}, {"--password=x"}, {"--passw", "x"}, {"--bogus", "--password-x=y"}}) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunUpdate(static_cast<int>(argv.size()), argv.data()), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tideload-cli: the password is never taken from the command line; use --password-file, set "
              "TIDELOAD_PASSWORD or answer the prompt\n");
  }
}

TEST(Options, HelpEndsWithTheExitStatuses) {
  FindOptions o;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse(FindCommand, o, {"-h"}), 0);
  const std::string help = testing::internal::GetCapturedStdout();
  EXPECT_EQ(help.rfind("Usage: tideload-cli find [--json] [--seconds S]", 0), 0u) << help;
  EXPECT_NE(help.find("\n  --to ADDRESS             search at"), std::string::npos) << help;
  EXPECT_NE(help.find("Exit status, every command:\n"), std::string::npos);
  const std::string last = "  130  cancelled          cancelled (no password, the prompt ended) or Ctrl-C\n";
  EXPECT_EQ(help.substr(help.size() - last.size()), last);
}

}  // namespace
}  // namespace tl::cli
