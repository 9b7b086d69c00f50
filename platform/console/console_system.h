// What a console program asks of its system beyond the host: its arguments
// and environment as UTF-8 (on Windows from their UTF-16 forms), and the
// words for the system's error codes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tl {

class ConsoleArguments {
 public:
  // main's arguments; on Windows they are taken again from the command line.
  ConsoleArguments(int argc, char** argv);
  ConsoleArguments(const ConsoleArguments&) = delete;
  ConsoleArguments& operator=(const ConsoleArguments&) = delete;

  int Count() const { return static_cast<int>(texts_.size()); }
  char** Values() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;  // into texts_, then a null
};

std::optional<std::string> EnvironmentText(const char* name);

// The calling thread's last system error (a socket call's included), and
// what it means.
int LastSystemError();
std::string SystemErrorText(int code);

}  // namespace tl
