#include "tests/e2e/e2e_support.h"

#include "tests/support/srecord_text.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace e2e {

std::string BuildDir() { return TIDELOAD_BUILD_DIR; }
std::string SourceDir() { return TIDELOAD_SOURCE_DIR; }
std::string Cli() { return BuildDir() + "/tideload-cli"; }
std::string Demo() { return SourceDir() + "/examples/demo_APP.s19"; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}


namespace {
// A folder of this test process's own, removed when the process ends (a
// forked child leaves it alone).
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tideload-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty() && ::getpid() == owner_) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  pid_t owner_ = ::getpid();
};

std::string TempRoot() {
  static TempFolder root;
  return root.Path().empty() ? "/tmp" : root.Path();
}
int g_serial = 0;
}  // namespace

std::string TempFile(const std::string& name) {
  return TempRoot() + "/" + std::to_string(::getpid()) + "-" + std::to_string(++g_serial) + "-" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Child::Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& stdinFile) {
  outPath_ = TempFile("out.txt");
  errPath_ = TempFile("err.txt");
  pid_ = ::fork();
  if (pid_ == 0) {
    int in = ::open(stdinFile.c_str(), O_RDONLY);
    int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ExecChild(argv, env);
  }
}

void ExecChild(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
  for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

Child::~Child() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool Child::Running() {
  if (reaped_) return false;
  int status = 0;
  pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

std::string Child::Err() const { return ReadFile(errPath_); }

Finished Child::Wait(int timeoutMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Finished f;
  if (Running()) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    reaped_ = true;
    f.status = -1;
  } else {
    f.status = status_;
  }
  f.out = ReadFile(outPath_);
  f.err = ReadFile(errPath_);
  return f;
}

namespace {
const char kUnshare[] = "/usr/bin/unshare";
}  // namespace

bool CanUnshare() {
  static const bool can = [] {
    Child probe({kUnshare, "-n", "/bin/true"});
    return probe.Wait(20000).status == 0;
  }();
  return can;
}

std::vector<std::string> Isolated(const std::vector<std::string>& argv, const std::string& shell) {
  std::vector<std::string> out = {kUnshare, "-n"};
  if (shell.empty()) {
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
  }
  out.insert(out.end(), {"/bin/sh", "-c", shell + "; exec \"$@\"", "sh"});
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

Sim StartSimAt(std::uint32_t hostOrder, const std::vector<std::string>& args) {
  Sim sim;
  sim.hostOrder = hostOrder;
  sim.address = std::to_string(hostOrder >> 24) + "." + std::to_string((hostOrder >> 16) & 0xFF) + "." +
                std::to_string((hostOrder >> 8) & 0xFF) + "." + std::to_string(hostOrder & 0xFF);
  std::string ready = TempFile("ready");
  std::vector<std::string> argv = {BuildDir() + "/tideload-sim", "--listen", sim.address, "--ready-file", ready};
  argv.insert(argv.end(), args.begin(), args.end());
  sim.child = std::make_unique<Child>(argv);
  for (int i = 0; i < 2000; ++i) {
    if (std::filesystem::exists(ready)) return sim;
    if (!sim.child->Running()) break;  // the address was taken
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return Sim{};
}

std::uint32_t FreeLoopbackAddress() {
  static std::mt19937 random(static_cast<unsigned>(::getpid()) * 7919u +
                             static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  auto pick = [] { return 1u + static_cast<unsigned>(random() % 250u); };
  return (127u << 24) | (pick() << 16) | (pick() << 8) | pick();
}

Sim StartSim(const std::vector<std::string>& args) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    Sim sim = StartSimAt(FreeLoopbackAddress(), args);
    if (sim.child) return sim;  // else the address was taken: another one
  }
  return Sim{};
}

void WriteSRecordFile(const std::string& path, const std::string& platform, std::uint32_t start,
                      const std::string& bytes) {
  std::string text = tl::test::SRecordText(platform, start, bytes);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string PatternBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string JsonField(const std::string& text, const std::string& name) {
  const std::string key = "\"" + name + "\": ";
  std::size_t at = text.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  // To the member's end: a comma or brace outside strings and brackets.
  std::size_t end = at;
  int depth = 0;
  bool inString = false;
  for (; end < text.size(); ++end) {
    const char c = text[end];
    if (inString) {
      if (c == '\\') ++end;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if (c == ']' || c == '}') {
      if (depth-- == 0) break;
    } else if (c == ',' && depth == 0) {
      break;
    }
  }
  return text.substr(at, end - at);
}

}  // namespace e2e
