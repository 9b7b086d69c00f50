// The command lines of tideload-cli and tideload-sim: help, versions and
// option errors. find runs inside a network namespace of its own (unshare
// -n), so that nothing it might send leaves this machine's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

constexpr int kWait = 20000;

std::vector<std::string> IsolatedFind(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {BuildDir() + "/tideload-cli", "find"};
  argv.insert(argv.end(), args.begin(), args.end());
  return Isolated(argv);
}

struct Case {
  std::vector<std::string> argv;
  int status;
  std::vector<std::string> out;  // texts that stdout holds
  std::vector<std::string> err;  // texts that stderr holds
};

void Check(const Case& c) {
  std::string shown;
  for (const std::string& a : c.argv) shown += a + " ";
  SCOPED_TRACE(shown);
  Finished f = Child(c.argv).Wait(kWait);
  EXPECT_EQ(f.status, c.status) << f.err;
  for (const std::string& text : c.out) EXPECT_NE(f.out.find(text), std::string::npos) << text << "\n" << f.out;
  for (const std::string& text : c.err) EXPECT_NE(f.err.find(text), std::string::npos) << text << "\n" << f.err;
  if (c.status == 0) {
    EXPECT_EQ(f.err, "");
  }
}

TEST(CommandLine, HelpVersionsAndMissingValues) {
  const std::string cli = BuildDir() + "/tideload-cli";
  const std::string sim = BuildDir() + "/tideload-sim";
  const std::vector<std::string> everyOption = {"inspect", "update", "find", "--json", "--output",
                                                "--reboot", "--user", "--seconds", "--help",
                                                "--version"};
  const std::vector<Case> cases = {
      {{cli, "--help"}, 0, everyOption, {}},
      {{cli, "inspect", "--help"}, 0, {"Usage: tideload-cli inspect", "--output"}, {}},
      {{cli, "update", "-h"}, 0, {"Usage: tideload-cli update", "--user NAME"}, {}},
      {{cli, "--version"}, 0, {"Tideload Version 1.0\n"}, {}},
      {{cli, "update", "--version"}, 0, {"Tideload Version 1.0\n"}, {}},
      {{cli, "update", "1.2.3.4", "f", "--user"}, 2, {}, {"--user: 1 required NAME missing"}},
      {{cli, "inspect", "--output"}, 2, {}, {"--output: 1 required IMAGE.bin missing"}},
      {{cli, "update", "--bogus", "1.2.3.4", "f"}, 2, {}, {"not expected: --bogus"}},
      {{sim, "--help"}, 0, {"discover", "--module", "--listen", "--connections", "--version"}, {}},
      {{sim, "discover", "--help"}, 0, {"Usage: tideload-sim discover", "--count"}, {}},
      {{sim, "--version"}, 0, {"Tideload Simulator Version 1.0\n"}, {}},
      {{sim, "--user"}, 2, {}, {"--user: 1 required NAME missing"}},
      {{sim, "discover", "--module"}, 2, {}, {"--module: 1 required DESC missing"}},
  };
  for (const Case& c : cases) Check(c);

  if (!CanUnshare()) GTEST_SKIP() << "no network namespaces here for find";
  const std::vector<Case> findCases = {
      {IsolatedFind({"--help"}), 0, {"Usage: tideload-cli find", "--seconds S"}, {}},
      {IsolatedFind({"--version"}), 0, {"Tideload Version 1.0\n"}, {}},
      {IsolatedFind({"--seconds"}), 2, {}, {"--seconds: 1 required S missing"}},
  };
  for (const Case& c : findCases) Check(c);
}

TEST(CommandLine, FindTakesOnlyAFiniteNumberOfSecondsInRange) {
  if (!CanUnshare()) GTEST_SKIP() << "no network namespaces here for find";
  for (const char* bad : {"nan", "-nan", "inf", "-inf", "infinity", "0x1p3", "1e400", "-1", "3601",
                          "", " 1", "1s", "1e"}) {
    // After '=' a value may look like an option.
    const std::vector<std::string> args = bad[0] == '-' ? std::vector<std::string>{"--seconds=" + std::string(bad)}
                                                        : std::vector<std::string>{"--seconds", bad};
    Check({IsolatedFind(args), 2, {}, {"--seconds: bad value '" + std::string(bad) + "'"}});
  }
  // Negative zero is zero: the search runs (and ends) at once after the heard lists.
  Finished f = Child(IsolatedFind({"--seconds", "-0"})).Wait(kWait);
  EXPECT_NE(f.status, 2) << f.err;
  EXPECT_NE(f.status, -1);
  EXPECT_EQ(f.err.find("bad value"), std::string::npos) << f.err;
}

TEST(CommandLine, InspectOutputIsTheImageOrNothing) {
  // An image of many pieces; the output folder must end up holding just
  // what each case names (no file of a failed load, none left unnamed).
  const std::string folder = TempFile("output");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string image = PatternBytes(std::size_t{3} << 20, 11);
  const std::string good = TempFile("good_APP.s19");
  WriteSRecordFile(good, "RT", 0x10000, image);
  std::string text = ReadFile(good);
  text[text.size() / 2] = text[text.size() / 2] == '0' ? '1' : '0';
  const std::string damaged = TempFile("damaged_APP.s19");
  std::ofstream(damaged, std::ios::binary) << text;
  // A file already there is rewritten in place: its other name sees the image.
  ASSERT_EQ(::symlink("target.bin", (folder + "/link.bin").c_str()), 0);
  std::ofstream(folder + "/old.bin") << "old";
  ASSERT_EQ(::link((folder + "/old.bin").c_str(), (folder + "/other.bin").c_str()), 0);

  struct OutputCase {
    std::string file, output;
    int status;
    std::string err;
    std::vector<std::string> names;   // the folder's files afterwards, but the link
    std::vector<std::string> images;  // those of them that hold the image
  };
  const std::vector<std::string> before = {"new.bin", "old.bin", "other.bin"};
  const std::vector<std::string> after = {"new.bin", "old.bin", "other.bin", "target.bin"};
  const std::vector<OutputCase> cases = {
      {good, "new.bin", 0, "", before, {"new.bin"}},
      {damaged, "none.bin", 3, "S record checksum error", before, {"new.bin"}},
      {good, "link.bin", 0, "", after, {"new.bin", "target.bin"}},
      {damaged, "old.bin", 3, "S record checksum error", after, {"new.bin", "target.bin"}},
      {good, "old.bin", 0, "", after, after},
      {good, "missing/x.bin", 1, "cannot write '" + folder + "/missing/x.bin': No such file or directory", after,
       after},
  };
  for (const OutputCase& c : cases) {
    SCOPED_TRACE(c.output);
    Finished f = Child({Cli(), "inspect", "--output", folder + "/" + c.output, c.file}).Wait(kWait);
    EXPECT_EQ(f.status, c.status) << f.err;
    EXPECT_NE(f.err.find(c.err), std::string::npos) << f.err;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name == "link.bin") continue;
      names.push_back(name);
      const bool holds = std::find(c.images.begin(), c.images.end(), name) != c.images.end();
      EXPECT_EQ(ReadFile(entry.path().string()) == image, holds) << name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names);
  }
}

}  // namespace
}  // namespace e2e
