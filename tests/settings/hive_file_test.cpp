// The hive file on disk: what may not be written stays untouched, copies of
// the program do not lose each other's writes, and odd files neither block,
// nor crash, nor get half read.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "platform/posix/file_registry.h"
#include "settings/settings.h"
#include "tests/support/test_host.h"

namespace tl {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::TestHost;

constexpr const char* kHive = "HKEY_LOCAL_MACHINE.reg";
constexpr uid_t kNobody = 65534;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string HiveText(std::string_view values) {
  return "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ombrelin\\TIDELOAD\\Settings]\r\n" +
         std::string(values);
}

const std::string kStored = HiveText("\"IPAddr\"=dword:0a010203\r\n\"FileDir\"=\"/old_APP.s19\"\r\n");

// Runs fn in a child process (as uid when given) with a file registry on
// folder as the host's registry. Result() is fn's text, or nothing when the
// child hung or died.
class Child {
 public:
  Child(const std::string& folder, std::optional<uid_t> uid, const std::function<std::string()>& fn) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      if (uid && (::setgid(*uid) != 0 || ::setuid(*uid) != 0)) ::_exit(2);
      FileRegistry reg(folder);
      Host host = CurrentHost();
      host.registry = &reg;
      SetHost(host);
      std::string out = fn();
      ::_exit(::write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0 : 3);
    }
    ::close(fds[1]);
    fd_ = fds[0];
  }

  std::optional<std::string> Result() {
    std::string out;
    bool done = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done && pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) continue;
      char buf[256];
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) out.append(buf, static_cast<std::size_t>(n));
      done = n <= 0;
    }
    ::close(fd_);
    if (pid_ <= 0) return std::nullopt;
    if (!done) ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    if (!done || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return out;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

// What a user sees of the hive folder: every entry, its type, mode and
// content (or link target).
std::string Snapshot(const fs::path& folder) {
  std::string out;
  for (const auto& e : fs::directory_iterator(folder)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    out += e.path().filename().string() + " " + std::to_string(st.st_mode) + " ";
    if (S_ISLNK(st.st_mode)) out += fs::read_symlink(e.path()).string();
    if (S_ISREG(st.st_mode)) out += Slurp(e.path().string());
    out += "\n";
  }
  return out;
}

std::string WriteAndRead() {
  SaveIpAddress(0x0A000063);
  SaveFileDir("/new_APP.s19");
  return std::to_string(LoadIpAddress()) + "|" + LoadFileDir();
}

TEST(HiveFile, HivesThatMayNotBeWrittenGiveDefaultsAndStayAsTheyAre) {
  struct Case {
    const char* name;
    std::function<void(const std::string& hive)> make;
  };
  const Case cases[] = {
      {"mode 000", [](const std::string& h) { std::ofstream(h) << kStored; fs::permissions(h, fs::perms::none); }},
      {"read-only", [](const std::string& h) { std::ofstream(h) << kStored; fs::permissions(h, fs::perms::owner_read); }},
      {"fifo", [](const std::string& h) { ASSERT_EQ(::mkfifo(h.c_str(), 0644), 0); }},
      {"link to a device", [](const std::string& h) { fs::create_symlink("/dev/zero", h); }},
      {"dangling link", [](const std::string& h) { fs::create_symlink("gone.reg", h); }},
      {"folder", [](const std::string& h) { fs::create_directory(h); }},
  };
  std::vector<std::optional<uid_t>> users = {std::nullopt};
  if (::geteuid() == 0) users.push_back(kNobody);  // where the mode bits are enforced
  for (const Case& c : cases) {
    for (std::optional<uid_t> uid : users) {
      SCOPED_TRACE(std::string(c.name) + (uid ? " as an unprivileged user" : ""));
      TempDir dir;
      fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::others_exec);
      std::string folder = dir.File("reg");
      fs::create_directory(folder);
      std::string hive = folder + "/" + kHive;
      c.make(hive);
      if (uid) {
        ASSERT_EQ(::chown(folder.c_str(), *uid, *uid), 0);
        ASSERT_EQ(::lchown(hive.c_str(), *uid, *uid), 0);
      }
      const std::string before = Snapshot(folder);
      EXPECT_EQ(Child(folder, uid, WriteAndRead).Result(), "0|");
      std::string after = Snapshot(folder);
      std::string lock = std::string(kHive) + ".lock ";
      if (std::size_t at = after.find(lock); at != std::string::npos) {
        after.erase(at, after.find('\n', at) + 1 - at);  // the copies' lock, empty
      }
      EXPECT_EQ(after, before);
    }
  }
}

TEST(HiveFile, CopiesOfTheProgramKeepEachOthersLastWrite) {
  TestHost host;
  constexpr int kWrites = 200;
  for (int round = 1; round <= 3; ++round) {  // one race alone is often won by luck
    SCOPED_TRACE(round);
    auto writeFileDirs = [round] {
      for (int i = 1; i <= kWrites; ++i) SaveFileDir("/f" + std::to_string(round * i) + "_APP.s19");
      return std::string("done");
    };
    Child other(host.registryDir.Path().string(), std::nullopt, writeFileDirs);
    for (int i = 1; i <= kWrites; ++i) SaveIpAddress(static_cast<std::uint32_t>(0x0A000000 + round * i));
    EXPECT_EQ(other.Result(), "done");
    EXPECT_EQ(LoadIpAddress(), static_cast<std::uint32_t>(0x0A000000 + round * kWrites));
    EXPECT_EQ(LoadFileDir(), "/f" + std::to_string(round * kWrites) + "_APP.s19");
  }
}

TEST(HiveFile, HeldLockLosesTheWriteWithoutHanging) {
  TestHost host;
  auto& reg = static_cast<FileRegistry&>(*host.registry);
  SaveIpAddress(0x0A000001);
  int fd = ::open((reg.HiveFile() + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // another copy in the middle of a write
  SaveIpAddress(0x0A000002);
  ::close(fd);
  EXPECT_EQ(LoadIpAddress(), 0x0A000001u);
  SaveIpAddress(0x0A000003);
  EXPECT_EQ(LoadIpAddress(), 0x0A000003u);
  EXPECT_TRUE(host.Messages().empty());
}

TEST(HiveFile, FilesReadAsTheRegistryEditorReadsThemOrNotAtAll) {
  struct Case {
    const char* name;
    std::string text;
    std::uint32_t address;  // 0: the file does not parse
  };
  const std::string bigComment = "; " + std::string(1 << 20, 'x') + "\r\n";
  const Case cases[] = {
      {"as written", kStored, 0x0A010203},
      {"byte-order mark", "\xEF\xBB\xBF" + kStored, 0x0A010203},
      {"old header",
       "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ombrelin\\TIDELOAD\\Settings]\r\n"
       "\"IPAddr\"=dword:0a010203\r\n",
       0x0A010203},
      {"trailing blanks", HiveText("\"IPAddr\"=dword:0a010203 \t\r\n\"FileDir\"=\"/a\"  \r\n"), 0x0A010203},
      {"garbage after the first value", HiveText("\"IPAddr\"=dword:0a010203\r\nnot a value\r\n\"FileDir\"=\"/a\"\r\n"), 0},
      {"another hive",
       "Windows Registry Editor Version 5.00\r\n\r\n"
       "[HKEY_LOCAL_MACHINES\\SOFTWARE\\Ombrelin\\TIDELOAD\\Settings]\r\n\"IPAddr\"=dword:0a010203\r\n",
       0},
      {"over a mebibyte", kStored + bigComment, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    const fs::path folder = host.registryDir.Path();
    host.registryDir.Write(kHive, c.text);
    EXPECT_EQ(LoadIpAddress(), c.address);
    SaveFileDir("/b_APP.s19");
    EXPECT_EQ(LoadIpAddress(), c.address);  // a parsed file keeps its values
    int kept = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
      if (e.path().filename().string().find(".unreadable-") == std::string::npos) continue;
      EXPECT_EQ(Slurp(e.path().string()), c.text);
      ++kept;
    }
    EXPECT_EQ(kept, c.address == 0 ? 1 : 0);
  }
}

TEST(HiveFile, RewritingKeepsTheFileItsLinkAndItsMode) {
  TestHost host;
  auto& reg = static_cast<FileRegistry&>(*host.registry);
  TempDir elsewhere;

  // Leftovers of a write that died are removed by the next one; a link
  // planted under a temporary name is never followed.
  SaveIpAddress(0x0A000007);
  std::string outside = elsewhere.Write("outside", "keep me");
  fs::create_symlink(outside, reg.HiveFile() + ".tmp-" + std::to_string(::getpid()));
  host.registryDir.Write(std::string(kHive) + ".tmp-4242", "half");
  reg.FailNextWriteForTest();
  SaveIpAddress(0x0A000008);
  SaveIpAddress(0x0A000009);
  EXPECT_EQ(Slurp(outside), "keep me");
  for (const auto& e : fs::directory_iterator(host.registryDir.Path())) {
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
  }
  EXPECT_EQ(LoadIpAddress(), 0x0A000009u);

  // A hive that is a link: the link stays, its target gets the value and
  // keeps its mode.
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  std::string target = elsewhere.Write("shared.reg", kStored);
  fs::permissions(target, mode);
  fs::remove(reg.HiveFile());
  fs::create_symlink(target, reg.HiveFile());
  SaveIpAddress(0x0A00000A);
  EXPECT_TRUE(fs::is_symlink(reg.HiveFile()));
  EXPECT_NE(Slurp(target).find("\"IPAddr\"=dword:0a00000a"), std::string::npos);
  EXPECT_EQ(fs::status(target).permissions(), mode);
  EXPECT_EQ(LoadFileDir(), "/old_APP.s19");
}

TEST(HiveFile, OneOperationReadsTheFileOnce) {
  TestHost host;
  auto& reg = static_cast<FileRegistry&>(*host.registry);
  SaveIpAddress(0x0A000001);
  Registry::Key key = 0;
  ASSERT_EQ(reg.OpenKey(Registry::kLocalMachine, "SOFTWARE\\Ombrelin\\TIDELOAD\\Settings", &key), 0);
  // Written behind the store's back while its keys are open.
  std::string changed = Slurp(reg.HiveFile());
  changed.replace(changed.find("0a000001"), 8, "0a000002");
  host.registryDir.Write(kHive, changed);
  unsigned char bytes[4] = {};
  std::size_t got = 0;
  std::uint32_t type = 0;
  ASSERT_EQ(reg.QueryValue(key, "IPAddr", &type, bytes, sizeof bytes, &got), 0);
  EXPECT_EQ(bytes[0], 1);
  // A write lands on disk before the call returns, keys still open.
  const unsigned char three[4] = {3, 0, 0, 10};
  ASSERT_EQ(reg.SetValue(key, "IPAddr", kRegDword, three, sizeof three), 0);
  EXPECT_NE(Slurp(reg.HiveFile()).find("0a000003"), std::string::npos);
  reg.CloseKey(key);
  host.registryDir.Write(kHive, changed);
  EXPECT_EQ(LoadIpAddress(), 0x0A000002u);  // nothing kept between operations
}

}  // namespace
}  // namespace tl
