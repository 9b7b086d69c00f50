// A program run on a pseudo-terminal, as a user at a terminal runs it:
// stdin, stdout and stderr are the terminal, and typed keys such as Ctrl-C
// reach it through the terminal's line discipline.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <map>
#include <string>
#include <vector>

namespace e2e {

class PtyChild {
 public:
  static constexpr int kSignalled = 1000;

  PtyChild(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {});
  ~PtyChild();  // kills a child still running
  PtyChild(const PtyChild&) = delete;
  PtyChild& operator=(const PtyChild&) = delete;

  // Reads the terminal until text has appeared, at most timeoutMs.
  bool WaitFor(const std::string& text, int timeoutMs);
  // Keys typed at the terminal.
  void Type(const std::string& keys);
  // Reads the terminal until the program ends, at most timeoutMs (then it
  // is killed): the exit status, kSignalled + signal, or -1.
  int Wait(int timeoutMs);
  // All the program wrote so far (line ends as the terminal gives them, CR LF).
  const std::string& Output() const { return output_; }
  // The terminal's settings as the program left them.
  termios Settings() const;

 private:
  bool ReadSome(int waitMs);

  pid_t pid_ = -1;
  int master_ = -1;
  int slave_ = -1;
  bool reaped_ = false;
  std::string output_;
};

}  // namespace e2e
