// Child processes and files for the end-to-end tests.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

std::string BuildDir();
std::string SourceDir();
// The built tideload-cli, and the sample application file.
std::string Cli();
std::string Demo();
// The text's lines, without their line ends (a last one without an end is left out).
std::vector<std::string> Lines(const std::string& text);

// In a forked child: sets the environment and runs argv[0]; never returns.
[[noreturn]] void ExecChild(const std::vector<std::string>& argv,
                            const std::map<std::string, std::string>& env);

struct Finished {
  int status = -1;      // exit status, or 128 + signal
  std::string out, err;
};

class Child {
 public:
  // Starts argv[0] with the extra environment; output goes to files.
  Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
        const std::string& stdinFile = "/dev/null");
  ~Child();  // kills a child still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // Waits at most timeoutMs; the child is killed after that (status -1).
  Finished Wait(int timeoutMs);
  bool Running();
  pid_t Pid() const { return pid_; }
  std::string Err() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
  std::string outPath_, errPath_;
};

// A tideload-sim listening on a loopback address of its own, port 20034.
struct Sim {
  std::unique_ptr<Child> child;
  std::string address;     // dotted
  std::uint32_t hostOrder = 0;
};
// Starts a sim on a free 127.a.b.c; args are the sim's options.
Sim StartSim(const std::vector<std::string>& args);
// A loopback address of 127.0.0.0/8 that is most likely nobody's, and a sim
// started at one (no child when the address is taken).
std::uint32_t FreeLoopbackAddress();
Sim StartSimAt(std::uint32_t hostOrder, const std::vector<std::string>& args);

// Network namespaces of our own can be made (unshare -n).
bool CanUnshare();
// argv run in a new network namespace; shell, when set, runs first there
// (sh -c "SHELL; exec argv"), e.g. to bring lo up.
std::vector<std::string> Isolated(const std::vector<std::string>& argv, const std::string& shell = "");

std::string TempFile(const std::string& name);
std::string ReadFile(const std::string& path);
// An S-record file (S0 platform line, S3 records) holding the bytes.
void WriteSRecordFile(const std::string& path, const std::string& platform, std::uint32_t start,
                      const std::string& bytes);
std::string PatternBytes(std::size_t size, std::uint32_t seed);

// The raw text of a member of the first JSON object in text that has it
// ("\"ok\"", "106", "null", "[...]"); empty when none has.
std::string JsonField(const std::string& text, const std::string& name);

}  // namespace e2e
