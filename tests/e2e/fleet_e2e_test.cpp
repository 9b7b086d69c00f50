// tideload-cli update for scripts and fleets, against tideload-sim over
// loopback: many modules in one call, --from, --dry-run, --password-file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/pty_child.h"

namespace e2e {
namespace {

constexpr int kLong = 90000;  // ms; the idle time-out is 30 s


std::string Written(const std::string& name, const std::string& text) {
  std::string path = TempFile(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::vector<Sim> StartSims(const std::vector<std::vector<std::string>>& args) {
  std::vector<Sim> sims;
  for (const auto& a : args) {
    sims.push_back(StartSim(a));
    EXPECT_NE(sims.back().child, nullptr);
  }
  return sims;
}

TEST(FleetEndToEnd, OneFailingAndOneSilentModuleHoldUpNoneOfTheOthers) {
  // Given order: good, failing, good, silent, good; once with --json, once
  // with the lines and the summary, side by side.
  const std::vector<std::vector<std::string>> kinds = {
      {"--pace", "5"}, {"--error-at", "103"}, {"--pace", "5"}, {"--silent-at", "102"}, {"--pace", "5"}};
  std::vector<Sim> sims[2] = {StartSims(kinds), StartSims(kinds)};
  std::unique_ptr<Child> runs[2];
  for (int json = 0; json < 2; ++json) {
    std::vector<std::string> argv = {Cli(), "update"};
    if (json) argv.push_back("--json");
    for (const Sim& s : sims[json]) argv.push_back(s.address);
    argv.push_back(Demo());
    runs[json] = std::make_unique<Child>(argv);
  }
  Finished inspect = Child({Cli(), "inspect", "--json", Demo()}).Wait(kLong);
  Finished plain = runs[0]->Wait(kLong), json = runs[1]->Wait(kLong);
  EXPECT_EQ(json.status, 6) << json.err;  // the first failure in the order given: refused
  EXPECT_EQ(plain.status, 6) << plain.err;

  // One object per module as each ends: the silent one last, 30 s after the others.
  std::vector<std::string> objects = Lines(json.out);
  ASSERT_EQ(objects.size(), 5u) << json.out;
  EXPECT_EQ(JsonField(objects.back(), "address"), "\"" + sims[1][3].address + "\"");
  EXPECT_EQ(JsonField(objects.back(), "result"), "\"timed-out\"");
  EXPECT_GE(std::stod(JsonField(objects.back(), "seconds")), 29.0);
  for (std::size_t i = 0; i + 1 < objects.size(); ++i) {
    EXPECT_LT(std::stod(JsonField(objects[i], "seconds")), 15.0) << objects[i];
  }
  const std::string good = *std::find_if(objects.begin(), objects.end(), [&](const std::string& o) {
    return JsonField(o, "address") == "\"" + sims[1][0].address + "\"";
  });
  const std::string inspected = inspect.out.substr(inspect.out.find("\"sha256\""));
  EXPECT_EQ(JsonField(good, "sha256"), JsonField(inspected, "sha256"));
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"file", "\"" + Demo() + "\""}, {"filePlatform", "\"RT40\""}, {"modulePlatform", "\"RT40\""},
      {"startAddress", "65536"}, {"imageLength", "65536"}, {"bytesSent", "65545"}, {"result", "\"ok\""},
      {"messages", "[\"Programming Complete without Error.\"]"}, {"lastCode", "106"},
      {"platformsAgree", "null"}};
  for (const auto& [name, value] : fields) EXPECT_EQ(JsonField(good, name), value) << name;

  // The lines carry the address; the summary follows the order given.
  const std::vector<Sim>& p = sims[0];
  for (const std::string& line : {p[0].address + ": Percent Complete 100%", p[1].address + ": Error: Bad image",
                                  p[3].address + ": Error: Timed out", p[4].address + ": ok after "}) {
    EXPECT_NE(plain.err.find(line), std::string::npos) << line;
  }
  std::vector<std::string> table = Lines(plain.out);
  ASSERT_EQ(table.size(), 7u) << plain.out;
  const char* results[] = {"ok", "refused", "ok", "timed-out", "ok"};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(std::regex_match(table[i + 1], std::regex(p[i].address + " +" + results[i] + " +[0-9.]+")))
        << table[i + 1];
  }
  EXPECT_EQ(table[6], "wave 1 of 1, 5 modules: 3 ok, 1 timed-out, 1 refused");
  for (auto& set : sims) {
    for (Sim& s : set) EXPECT_EQ(s.child->Wait(kLong).status, 0);
  }
}

TEST(FleetEndToEnd, AModuleThatAsksAgainAndReadsNothingEndsAloneTheOthersFinish) {
  std::vector<Sim> sims = StartSims({{"--pace", "5"}, {"--repeat-at", "102"}, {"--pace", "5"}});
  Finished f = Child({Cli(), "update", "--json", sims[0].address, sims[1].address, sims[2].address, Demo()})
                   .Wait(kLong);
  EXPECT_EQ(f.status, 4) << f.err;
  std::vector<std::string> objects = Lines(f.out);
  ASSERT_EQ(objects.size(), 3u) << f.out;
  for (std::size_t i = 0; i < sims.size(); ++i) {
    const std::string object = *std::find_if(objects.begin(), objects.end(), [&](const std::string& o) {
      return JsonField(o, "address") == "\"" + sims[i].address + "\"";
    });
    EXPECT_EQ(JsonField(object, "result"), i == 1 ? "\"connection-failed\"" : "\"ok\"") << object;
  }
  for (Sim& s : sims) EXPECT_EQ(s.child->Wait(kLong).status, 0);
}

TEST(FleetEndToEnd, DryRunComparesPlatformsAndSendsNothing) {
  struct Case {
    std::vector<std::string> sim;
    int status;
    std::string said;
  };
  const Case cases[] = {
      {{"--variant-512"}, 0, ": the file's platform RT40, the module's RT40-512: they agree\n"},
      {{"--wrong-platform"}, 6, ": the file's platform RT40, the module's ZX99: they differ\n"},
      {{"--user", "u", "--password", "p"}, 0, ": the file's platform RT40, the module's RT40: they agree\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim.front());
    std::vector<std::string> args = c.sim;
    args.push_back("--expect-dry-run");  // the sim fails when anything comes after the platform
    Sim sim = StartSim(args);
    ASSERT_NE(sim.child, nullptr);
    Finished f = Child({Cli(), "update", "--dry-run", sim.address, Demo()}).Wait(kLong);
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_EQ(f.out, sim.address + c.said);
    EXPECT_EQ(f.err, "");
    Finished module = sim.child->Wait(kLong);
    EXPECT_EQ(module.status, 0) << module.err;
  }
}

TEST(FleetEndToEnd, JsonGivesTheFileAsTheCharactersOfItsPath) {
  // A path is the user's bytes: UTF-8 reads as its characters, a byte that
  // is not UTF-8 as the Latin-1 one.
  std::ifstream demo(Demo(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(demo)), std::istreambuf_iterator<char>());
  for (const std::string name : {"d\xc3\xa9mo_APP.s19", "d\xe9mo_APP.s19"}) {
    SCOPED_TRACE(name);
    const std::string path = Written(name, text);
    Sim sim = StartSim({"--expect-dry-run"});
    ASSERT_NE(sim.child, nullptr);
    Finished f = Child({Cli(), "update", "--dry-run", "--json", sim.address, path}).Wait(kLong);
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_NE(f.out.find("d\\u00e9mo_APP.s19\""), std::string::npos) << f.out;
    EXPECT_EQ(sim.child->Wait(kLong).status, 0);
  }
}

TEST(FleetEndToEnd, PasswordFromAFileOrFromStdin) {
  const std::string secret = "s3cr3t";
  struct Case {
    const char* what;
    std::string path;   // --password-file
    std::string stdinFile;
    int status;
  };
  const Case cases[] = {
      {"file, CR LF and a second line", Written("pw", secret + "\r\nnot this\n"), "/dev/null", 0},
      {"stdin, no line end", "-", Written("pw", secret), 0},
      {"a wrong one", Written("pw", "guess\n"), "/dev/null", 6},
      {"no such file", TempFile("none"), "/dev/null", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sim sim = StartSim({"--user", "admin", "--password", secret});
    ASSERT_NE(sim.child, nullptr);
    Finished f = Child({Cli(), "update", "--user", "admin", "--password-file", c.path, sim.address, Demo()},
                       {}, c.stdinFile)
                     .Wait(kLong);
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_EQ(f.err.find(secret), std::string::npos);
  }
}

TEST(FleetEndToEnd, FromFindOutputOncePerDeviceThroughAConsistentInterface) {
  std::vector<Sim> sims = StartSims({{}, {}});
  const std::string& group = sims[0].address;
  const std::string& lone = sims[1].address;
  // find --json's shape, with members find may add; an interface that did
  // not answer consistently is never used.
  const std::string found =
      "[{\"label\": \"Duo running :Dual\", \"address\": \"127.203.1.9\", \"consistent\": true,"
      "  \"addresses\": [\"127.203.1.1\", \"" + group + "\"], \"children\": ["
      "   {\"address\": \"127.203.1.1\", \"consistent\": false, \"children\": []},"
      "   {\"address\": \"" + group + "\", \"consistent\": true, \"app\": \"Dual\", \"children\": []}]},\n"
      " {\"address\": \"" + lone + "\", \"consistent\": true, \"children\": [], \"x\": {\"y\": [1.5e3, null]}},\n"
      " {\"address\": \"127.203.1.2\", \"consistent\": false, \"children\": []}]\n";
  Finished f = Child({Cli(), "update", "--json", "--from", Written("found.json", found), lone, Demo()}).Wait(kLong);
  EXPECT_EQ(f.status, 4) << f.err;  // the device left out
  std::vector<std::string> objects = Lines(f.out);
  ASSERT_EQ(objects.size(), 3u) << f.out;
  std::vector<std::string> seen;
  for (const std::string& o : objects) seen.push_back(JsonField(o, "address") + " " + JsonField(o, "result"));
  std::vector<std::string> expected = {"\"" + group + "\" \"ok\"", "\"" + lone + "\" \"ok\"",
                                       "\"127.203.1.2\" \"connection-failed\""};
  std::sort(seen.begin(), seen.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen, expected);
  EXPECT_NE(f.err.find(lone + " named twice: updated once"), std::string::npos) << f.err;
  for (Sim& s : sims) EXPECT_EQ(s.child->Wait(kLong).status, 0);

  // Input from outside: anything but such output is a usage error.
  const std::pair<std::string, std::string> bad[] = {
      {"[", "unexpected end of input"},
      {"[] x", "expected end of input"},
      {"{\"a\": 1}", "no array"},
      {"[{\"address\": \"1.2.3\", \"consistent\": true}]", "without a usable address"},
      {"[{\"address\": \"1.2.3.4\", \"consistent\": true, \"address\": \"1.2.3.5\"}]", "given twice"},
      {"[\"\\ud800\"]", "must be followed by U+DC00"},
      {std::string(40, '[') + std::string(40, ']'), "nested too deep"},
      {"[\"\x01\"]", "control character U+0001"},
      {"[\"\xff\"]", "ill-formed UTF-8"},
      {"[01]", "leading zero"},
  };
  for (const auto& [text, why] : bad) {
    SCOPED_TRACE(text);
    Finished r = Child({Cli(), "update", "--from", Written("bad.json", text), Demo()}).Wait(kLong);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
  }
}

TEST(FleetEndToEnd, TheFileIsLoadedOnceBeforeAnyModuleIsContacted) {
  // One at a time: by the second update the file holds another image, and
  // the second module still gets the one the call began with.
  std::string file = TempFile("change_APP.s19");
  WriteSRecordFile(file, "RT40", 0x10000, PatternBytes(2000, 1));
  const std::string saved = TempFile("second.bin");
  std::vector<Sim> sims = StartSims({{"--pace", "30"}, {"--save", saved}});
  Child cli({Cli(), "update", "--json", "--jobs", "1", sims[0].address, sims[1].address, file});
  for (int i = 0; i < 3000 && cli.Err().find("Percent Complete") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  WriteSRecordFile(file, "RT40", 0x10000, PatternBytes(2000, 2));
  Finished f = cli.Wait(kLong);
  EXPECT_EQ(f.status, 0) << f.err;
  std::vector<std::string> objects = Lines(f.out);
  ASSERT_EQ(objects.size(), 2u) << f.out;
  EXPECT_EQ(JsonField(objects[0], "sha256"), JsonField(objects[1], "sha256"));
  for (Sim& s : sims) EXPECT_EQ(s.child->Wait(kLong).status, 0);
  EXPECT_TRUE(ReadFile(saved) == PatternBytes(2000, 1));
}

TEST(FleetEndToEnd, TerminalShowsOneLinePerRunningModule) {
  std::vector<Sim> sims = StartSims({{"--pace", "30"}, {"--pace", "30"}});
  PtyChild cli({Cli(), "update", sims[0].address, sims[1].address, Demo()});
  EXPECT_EQ(cli.Wait(kLong), 0) << cli.Output();
  // Both rows drawn one under the other: address, bar, figures.
  const std::string row = " +\\[[#.]+\\] +[0-9]+% [^\r\n]+ left";
  EXPECT_TRUE(std::regex_search(cli.Output(), std::regex(sims[0].address + row + "\r\n" + sims[1].address + row)))
      << cli.Output();
}

}  // namespace
}  // namespace e2e
