// An audit log: whole lines appended to a file that programs running at the
// same time share. Each line goes in one write under an exclusive lock, so
// lines never mix; a file it makes is readable and writable by its owner
// only (on Windows, where the file system keeps access rights).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tl {

class AppendLog {
 public:
  // Nothing, with the system's reason, when the file cannot be opened for
  // appending (a folder, a FIFO, no right).
  static std::unique_ptr<AppendLog> Open(const std::string& path, std::string* error);
  ~AppendLog();
  AppendLog(const AppendLog&) = delete;
  AppendLog& operator=(const AppendLog&) = delete;

  // Appends line and a line end; false when it did not all go.
  bool Append(std::string_view line);

 private:
  explicit AppendLog(std::intptr_t file) : file_(file) {}
  std::intptr_t file_;  // the system's handle of the open file
};

// Who runs the program (the login name) and on which machine.
std::string OperatorName();
std::string HostName();
// Now in UTC, ISO 8601 to the millisecond: "2026-12-09T22:30:01.123Z".
std::string UtcNow();

}  // namespace tl
