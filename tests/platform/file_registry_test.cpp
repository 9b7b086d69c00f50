// The registry file: its format, what a hostile or shared file does, and
// writes that keep it whole.
#include "platform/posix/file_registry.h"

#include <fcntl.h>
#include <signal.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "settings/settings.h"
#include "tests/support/test_host.h"

namespace tl {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::TestHost;

TEST(SettingsStore, UnwritableLocationGivesDefaultsSilently) {
  TestHost host;
  TempDir dir;
  std::string blocker = dir.Write("not-a-folder", "x");
  FileRegistry reg(blocker + "/tideload");
  SetHost(Host{&host.ui, &host.net, &reg, &host.files});
  SaveIpAddress(0x0A000001);
  SaveFileDir("/x_APP.s19");
  EXPECT_EQ(LoadIpAddress(), 0u);
  EXPECT_EQ(LoadFileDir(), "");
  EXPECT_TRUE(host.Messages().empty());
  EXPECT_FALSE(std::filesystem::exists(blocker + "/tideload"));
  host.Install();
}

TEST(SettingsStore, DamagedFileReadsAsDefaultsAndIsKeptAside) {
  TestHost host;
  auto& reg = static_cast<FileRegistry&>(*host.registry);
  std::filesystem::create_directories(host.registryDir.Path());
  const std::string garbage = "this is not a registry file\n\"IPAddr\"=dword:zz\n";
  {
    std::ofstream(reg.HiveFile(), std::ios::binary) << garbage;
  }
  EXPECT_EQ(LoadIpAddress(), 0u);  // also creates the application key: a write
  SaveIpAddress(0x0A000009);
  EXPECT_EQ(LoadIpAddress(), 0x0A000009u);
  int kept = 0;
  for (const auto& entry : std::filesystem::directory_iterator(host.registryDir.Path())) {
    if (entry.path().filename().string().find("unreadable") != std::string::npos) {
      EXPECT_EQ(ReadFile(entry.path().string()), garbage);
      ++kept;
    }
  }
  EXPECT_EQ(kept, 1);
  EXPECT_TRUE(host.Messages().empty());
}

TEST(FileRegistry, HandWrittenFilesParse) {
  TempDir dir;
  std::ofstream(dir.File("HKEY_LOCAL_MACHINE.reg"), std::ios::binary)
      << "Windows Registry Editor Version 5.00\n\n"
         "; a comment\n"
         "[HKEY_LOCAL_MACHINE\\software\\ombrelin\\tideload\\settings]\n"
         "\"ipaddr\"=dword:c0a80114\n"
         "\"Blob\"=hex:01,02,\\\n"
         "  03,04\n"
         "@=hex(7):41,00\n";
  FileRegistry reg(dir.Path().string());
  Registry::Key key = 0;
  ASSERT_EQ(reg.OpenKey(Registry::kLocalMachine, "SOFTWARE\\Ombrelin\\TIDELOAD\\Settings\\", &key), 0);
  unsigned char buf[8] = {};
  std::size_t got = 0;
  std::uint32_t type = 0;
  ASSERT_EQ(reg.QueryValue(key, "IPAddr", &type, buf, sizeof buf, &got), 0);  // names ignore case
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(buf[0], 0x14);
  EXPECT_EQ(buf[3], 0xC0);
  ASSERT_EQ(reg.QueryValue(key, "Blob", &type, buf, sizeof buf, &got), 0);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(buf[3], 4);
  ASSERT_EQ(reg.QueryValue(key, "", &type, buf, sizeof buf, &got), 0);
  EXPECT_EQ(type, 7u);
  EXPECT_EQ(reg.QueryValue(key, "Blob", &type, buf, 2, &got), Registry::kMoreData);
  EXPECT_EQ(reg.QueryValue(key, "missing", &type, buf, sizeof buf, &got), Registry::kFileNotFound);
  reg.CloseKey(key);
  EXPECT_NE(reg.OpenKey(0, "Settings", &key), 0);  // no key, no access
}

// ---- the hive file on disk: what may not be written stays untouched, copies
// of the program keep each other's writes, odd files neither block, nor
// crash, nor get half read.

constexpr const char* kHive = "HKEY_LOCAL_MACHINE.reg";
constexpr uid_t kNobody = 65534;

std::string HiveText(std::string_view values, std::string_view header = "Windows Registry Editor Version 5.00",
                     std::string_view hive = "HKEY_LOCAL_MACHINE") {
  return std::string(header) + "\r\n\r\n[" + std::string(hive) + "\\SOFTWARE\\Ombrelin\\TIDELOAD\\Settings]\r\n" +
         std::string(values);
}

const std::string kStored = HiveText("\"IPAddr\"=dword:0a010203\r\n\"FileDir\"=\"/old_APP.s19\"\r\n");

// Runs fn in a child process (as uid when given) with a file registry on
// folder as the host's registry. Result() is fn's text, or nothing when the
// child died, or hung and ended itself.
class Child {
 public:
  Child(const std::string& folder, std::optional<uid_t> uid, const std::function<std::string()>& fn) {
    int fds[2] = {-1, -1};
    if (::pipe(fds) != 0 || (pid_ = ::fork()) != 0) {
      ::close(fds[1]);
      fd_ = fds[0];
      return;
    }
    ::alarm(30);
    if (uid && (::setgroups(0, nullptr) != 0 || ::setgid(*uid) != 0 || ::setuid(*uid) != 0)) ::_exit(2);
    FileRegistry reg(folder);
    Host host = CurrentHost();
    host.registry = &reg;
    SetHost(host);
    std::string out = fn();
    ::_exit(::write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0 : 3);
  }

  std::optional<std::string> Result() {
    std::string out;
    char buf[256];
    for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    ::close(fd_);
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_ || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return std::nullopt;
    }
    return out;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

// What a user sees of the hive folder: every entry but the copies' lock,
// its type, mode and content (or link target).
std::string Snapshot(const fs::path& folder) {
  std::string out;
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.path().extension() == ".lock") continue;
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    out += e.path().filename().string() + " " + std::to_string(st.st_mode) + " ";
    if (S_ISLNK(st.st_mode)) out += fs::read_symlink(e.path()).string();
    if (S_ISREG(st.st_mode)) out += ReadFile(e.path().string());
    out += "\n";
  }
  return out;
}

TEST(HiveFile, AWriteThatFailsKeepsTheOldValues) {
  // The disk fills up under the write: the file stays as it was.
  TestHost host;
  auto& reg = static_cast<FileRegistry&>(*host.registry);
  SaveIpAddress(0x0A000001);
  SaveFileDir("/a_APP.s19");
  const std::string before = ReadFile(reg.HiveFile());
  auto writeOnAFullDisk = [&before] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit room{before.size() - 1, before.size() - 1};  // the new text is as long as the old
    ::setrlimit(RLIMIT_FSIZE, &room);
    SaveIpAddress(0x0A000002);
    return std::to_string(LoadIpAddress());
  };
  EXPECT_EQ(Child(host.registryDir.Path().string(), std::nullopt, writeOnAFullDisk).Result(),
            std::to_string(0x0A000001));
  EXPECT_EQ(ReadFile(reg.HiveFile()), before);
  EXPECT_EQ(LoadFileDir(), "/a_APP.s19");
  SaveIpAddress(0x0A000003);  // the next write goes through
  EXPECT_EQ(LoadIpAddress(), 0x0A000003u);
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
      EXPECT_EQ(Snapshot(folder), before);
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

TEST(HiveFile, OnlyThoseWhoMayWriteTheHiveMayOpenItsLock) {
  // Another user who could open the lock could hold it for ever.
  struct Case {
    const char* what;
    std::optional<fs::perms> hive;  // none: no hive yet
    std::optional<fs::perms> lock;  // as an older copy left it
    fs::perms expected;
  };
  using P = fs::perms;
  const P ownerRw = P::owner_read | P::owner_write;
  const P groupRw = P::group_read | P::group_write;
  const Case cases[] = {
      {"a fresh folder", std::nullopt, std::nullopt, ownerRw},
      {"a hive others may read", ownerRw | P::group_read | P::others_read, std::nullopt, ownerRw},
      {"a lock left readable by all", ownerRw | P::group_read | P::others_read,
       ownerRw | P::group_read | P::others_read, ownerRw},
      {"a hive its group may write", ownerRw | groupRw | P::others_read, std::nullopt, ownerRw | groupRw},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestHost host;
    const std::string hive = static_cast<FileRegistry&>(*host.registry).HiveFile();
    fs::create_directories(host.registryDir.Path());
    if (c.hive) {
      std::ofstream(hive) << kStored;
      fs::permissions(hive, *c.hive);
    }
    if (c.lock) {
      std::ofstream(hive + ".lock");
      fs::permissions(hive + ".lock", *c.lock);
    }
    SaveIpAddress(0x0A000004);
    EXPECT_EQ(fs::status(hive + ".lock").permissions(), c.expected);
  }
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
      {"old header", HiveText("\"IPAddr\"=dword:0a010203\r\n", "REGEDIT4"), 0x0A010203},
      {"trailing blanks", HiveText("\"IPAddr\"=dword:0a010203 \t\r\n\"FileDir\"=\"/a\"  \r\n"), 0x0A010203},
      {"garbage after the first value", HiveText("\"IPAddr\"=dword:0a010203\r\nnot a value\r\n\"FileDir\"=\"/a\"\r\n"), 0},
      {"another hive", HiveText("\"IPAddr\"=dword:0a010203\r\n", "REGEDIT4", "HKEY_LOCAL_MACHINES"), 0},
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
      EXPECT_EQ(ReadFile(e.path().string()), c.text);
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
  SaveIpAddress(0x0A000008);
  SaveIpAddress(0x0A000009);
  EXPECT_EQ(ReadFile(outside), "keep me");
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
  EXPECT_NE(ReadFile(target).find("\"IPAddr\"=dword:0a00000a"), std::string::npos);
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
  std::string changed = ReadFile(reg.HiveFile());
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
  EXPECT_NE(ReadFile(reg.HiveFile()).find("0a000003"), std::string::npos);
  reg.CloseKey(key);
  host.registryDir.Write(kHive, changed);
  EXPECT_EQ(LoadIpAddress(), 0x0A000002u);  // nothing kept between operations
}

}  // namespace
}  // namespace tl
