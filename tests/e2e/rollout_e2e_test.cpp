// tideload-cli update as a rollout, against tideload-sim over loopback:
// waves and the failure budget, retries, a rerun that resumes, the plan of
// a dry run and the audit log. (What the modules answer a search is checked
// in the test LAN, where searches have somewhere to go.)
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

constexpr int kLong = 90000;  // ms


// "result" of each module's JSON object, by address.
std::map<std::string, std::string> Results(const std::string& out) {
  std::map<std::string, std::string> results;
  for (const std::string& object : Lines(out)) results[JsonField(object, "address")] = JsonField(object, "result");
  return results;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

TEST(RolloutEndToEnd, AFailingCanaryOrASpentBudgetStopsTheModulesNotStarted) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::string>> sims;  // "" first: never contacted
    std::vector<std::string> options;
    std::vector<std::string> results;
    int status;
  };
  const std::vector<std::string> fails = {"--error-at", "103"};
  const Case cases[] = {
      {"a canary that fails", {fails, {}, {}}, {"--waves", "1,100%", "--max-failures", "0"},
       {"refused", "stopped", "stopped"}, 6},
      {"a canary that fails, no budget", {fails, {}, {}}, {"--waves", "1,100%"}, {"refused", "ok", "ok"}, 6},
      {"20 % of five: one failure is taken, the second spends it",
       {{}, fails, fails, {}, {}}, {"--jobs", "1", "--max-failures", "20%"},
       {"ok", "refused", "refused", "stopped", "stopped"}, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Sim> sims;
    std::vector<std::string> argv = {Cli(), "update", "--json"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    for (const auto& args : c.sims) {
      sims.push_back(StartSim(args));
      ASSERT_NE(sims.back().child, nullptr);
      argv.push_back(sims.back().address);
    }
    argv.push_back(Demo());
    Finished f = Child(argv).Wait(kLong);
    EXPECT_EQ(f.status, c.status) << f.err;
    std::map<std::string, std::string> results = Results(f.out);
    for (std::size_t i = 0; i < sims.size(); ++i) {
      EXPECT_EQ(results[Quoted(sims[i].address)], Quoted(c.results[i])) << sims[i].address;
      if (c.results[i] == "stopped") {
        sims[i].child.reset();  // never contacted: it has nothing to say
      } else {
        EXPECT_EQ(sims[i].child->Wait(kLong).status, 0);
      }
    }
  }
}

TEST(RolloutEndToEnd, ALostConnectionIsTriedAgainARefusalNever) {
  // Nobody listens at first; the module comes up once the first attempt
  // has failed, and the second attempt finds it.
  const std::uint32_t late = FreeLoopbackAddress();
  const std::string lateAddress = "127." + std::to_string((late >> 16) & 0xFF) + "." +
                                  std::to_string((late >> 8) & 0xFF) + "." + std::to_string(late & 0xFF);
  Sim refusing = StartSim({"--error-at", "103"});
  ASSERT_NE(refusing.child, nullptr);
  Child cli({Cli(), "update", "--json", "--retries", "3", lateAddress, refusing.address, Demo()});
  for (int i = 0; i < 3000 && cli.Err().find("tried again in 2 s") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Sim lateSim = StartSimAt(late, {});
  ASSERT_NE(lateSim.child, nullptr);
  Finished f = cli.Wait(kLong);
  EXPECT_EQ(f.status, 6) << f.err;
  for (const std::string& object : Lines(f.out)) {
    const bool isLate = JsonField(object, "address") == Quoted(lateAddress);
    EXPECT_EQ(JsonField(object, "result"), isLate ? "\"ok\"" : "\"refused\"") << object;
    EXPECT_EQ(JsonField(object, "attempts"), isLate ? "2" : "1") << object;
  }
  EXPECT_NE(f.err.find(lateAddress + ": connection-failed; tried again in 2 s (attempt 2 of 4)"), std::string::npos)
      << f.err;
  EXPECT_EQ(lateSim.child->Wait(kLong).status, 0);
  EXPECT_EQ(refusing.child->Wait(kLong).status, 0);
}

TEST(RolloutEndToEnd, ARerunResumesWhereTheFirstRunLeftOffAndTheLogTellsBoth) {
  const std::string log = TempFile("audit.log");
  const std::string first = TempFile("first.jsonl");
  std::vector<Sim> sims;
  sims.push_back(StartSim({}));
  sims.push_back(StartSim({"--error-at", "102"}));
  for (const Sim& s : sims) ASSERT_NE(s.child, nullptr);
  Finished run1 = Child({Cli(), "update", "--json", "--log", log, sims[0].address, sims[1].address, Demo()}).Wait(kLong);
  EXPECT_EQ(run1.status, 6) << run1.err;
  std::ofstream(first, std::ios::binary) << run1.out;
  for (Sim& s : sims) EXPECT_EQ(s.child->Wait(kLong).status, 0);

  // The second run: the first module was done with this image, the second
  // is updated now. Another image would not count as done.
  Sim again = StartSimAt(sims[1].hostOrder, {});
  ASSERT_NE(again.child, nullptr);
  Finished run2 = Child({Cli(), "update", "--json", "--log", log, "--resume", first, sims[0].address,
                         sims[1].address, Demo()})
                      .Wait(kLong);
  EXPECT_EQ(run2.status, 0) << run2.err;
  std::map<std::string, std::string> results = Results(run2.out);
  EXPECT_EQ(results[Quoted(sims[0].address)], "\"skipped\"");
  EXPECT_EQ(results[Quoted(sims[1].address)], "\"ok\"");
  EXPECT_NE(run2.err.find(sims[0].address + ": done before"), std::string::npos) << run2.err;
  EXPECT_EQ(again.child->Wait(kLong).status, 0);

  const std::string other = TempFile("other_APP.s19");
  WriteSRecordFile(other, "RT40", 0x10000, PatternBytes(100, 9));
  Finished run3 = Child({Cli(), "update", "--dry-run", "--json", "--resume", first, sims[0].address, other}).Wait(kLong);
  EXPECT_EQ(JsonField(run3.out, "result"), "\"connection-failed\"") << run3.out;  // tried: nobody is there now

  // One line per module as it ended, in both runs; nobody else may read it.
  std::vector<std::string> lines = Lines(ReadFile(log));
  ASSERT_EQ(lines.size(), 4u);
  for (const std::string& line : lines) {
    for (const char* field : {"time", "operator", "host", "address", "mac", "file", "sha256", "result", "attempts",
                              "appBefore", "appAfter"}) {
      EXPECT_NE(JsonField(line, field), "") << field << " in " << line;
    }
  }
  EXPECT_EQ(JsonField(lines[3], "attempts"), "1");
  EXPECT_EQ(JsonField(lines.front(), "time").size(), std::string("\"2026-12-09T22:30:01.123Z\"").size());
  struct stat st {};
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(RolloutEndToEnd, ADryRunShowsThePlanAndSendsNothing) {
  std::vector<Sim> sims;
  std::vector<std::string> argv = {Cli(), "update", "--dry-run", "--waves", "1,2", "--max-failures", "10%"};
  for (int i = 0; i < 3; ++i) {
    sims.push_back(StartSim({"--expect-dry-run"}));
    ASSERT_NE(sims.back().child, nullptr);
    argv.push_back(sims.back().address);
  }
  argv.push_back(Demo());
  Finished f = Child(argv).Wait(kLong);
  EXPECT_EQ(f.status, 0) << f.err;
  std::vector<std::string> out = Lines(f.out);
  ASSERT_GE(out.size(), 4u) << f.out;
  EXPECT_EQ(out[0], "plan: 3 modules in 3 waves, at most 0 failures");
  for (int w = 0; w < 3; ++w) EXPECT_EQ(out[w + 1], "wave " + std::to_string(w + 1) + " (1): " + sims[w].address);
  for (Sim& s : sims) EXPECT_EQ(s.child->Wait(kLong).status, 0);  // closed after the platform line
}

TEST(RolloutEndToEnd, BadRolloutValuesAreUsageErrors) {
  const std::pair<std::vector<std::string>, std::string> bad[] = {
      {{"--waves", "0"}, "--waves: '0' is not a wave size"},
      {{"--waves", "10%,5%"}, "cumulative"},
      {{"--waves", "101%"}, "not a wave size"},
      {{"--max-failures", "x"}, "--max-failures: 'x' is not a number of failures"},
      {{"--retries", "21"}, "--retries"},
      {{"--resume", TempFile("none")}, "--resume"},
  };
  for (const auto& [options, said] : bad) {
    SCOPED_TRACE(options.front() + " " + options.back());
    std::vector<std::string> argv = {Cli(), "update"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"127.0.0.1", Demo()});
    Finished f = Child(argv).Wait(kLong);
    EXPECT_EQ(f.status, 2);
    EXPECT_NE(f.err.find(said), std::string::npos) << f.err;
  }
}

}  // namespace
}  // namespace e2e
