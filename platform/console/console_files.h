// Files named on a console program's command line (UTF-8 paths). Reads
// never hold the program past Ctrl-C: a FIFO or pipe whose writer has not
// come yet is waited on (a pipe such as <(cmd) is a fine password file), and
// Ctrl-C ends the wait.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace tl {

enum class InputRead { kRead, kFailed, kInterrupted };

// At most most + 1 bytes of the file, or of stdin for "-", into bytes; with
// oneLine no more once a line end came. kFailed with the reason in *error.
InputRead ReadInput(const char* path, std::size_t most, bool oneLine, std::string& bytes, std::string* error);

// An output file whose bytes may be written while they are still being
// made. Where the system can, they go into an unnamed file in the path's
// folder, which takes the name only once all of them are in it, so that a
// failed or broken-off run leaves nothing behind. Where the name is taken
// (that file is rewritten in place) or no unnamed file can be made there,
// the bytes are written whole at the end instead.
class GrowingOutputFile {
 public:
  explicit GrowingOutputFile(const char* path);
  ~GrowingOutputFile();  // an unnamed file still open goes with it
  GrowingOutputFile(const GrowingOutputFile&) = delete;
  GrowingOutputFile& operator=(const GrowingOutputFile&) = delete;

  // Whether bytes given to WriteAt are of use.
  bool Early() const { return early_ >= 0; }
  // Final bytes, each once, from any thread.
  void WriteAt(std::size_t offset, const unsigned char* data, std::size_t length);
  // All the bytes, after the last WriteAt: names the unnamed file if it
  // holds all of them, else makes or replaces the file in one write. false
  // with the system's reason in *error.
  bool Finish(const unsigned char* data, std::size_t length, std::string* error);

 private:
  const std::string path_;
  int early_ = -1;  // the unnamed file
  std::atomic<std::size_t> written_{0};
  std::atomic<bool> failed_{false};
};

}  // namespace tl
