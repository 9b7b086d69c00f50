#include "platform/console/console_files.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tl {

namespace {

volatile sig_atomic_t g_interrupted = 0;

// Closes an unnamed file, which goes with it.
void CloseUnnamed(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The folder a path names its file in.
std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void NoteInterrupt(int) { g_interrupted = 1; }

// While it lives SIGINT is held back but inside the waits, where it ends
// them; before and after, the program's own handling.
class InterruptibleWait {
 public:
  InterruptibleWait() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousAction_);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    ::sigprocmask(SIG_BLOCK, &blocked, &previousMask_);
    waitMask_ = previousMask_;
    sigdelset(&waitMask_, SIGINT);
  }
  ~InterruptibleWait() {
    ::sigprocmask(SIG_SETMASK, &previousMask_, nullptr);  // a pending one is noted
    ::sigaction(SIGINT, &previousAction_, nullptr);
  }
  InterruptibleWait(const InterruptibleWait&) = delete;
  InterruptibleWait& operator=(const InterruptibleWait&) = delete;

  // Until fd is readable (true) or Ctrl-C came (false).
  bool WaitReadable(int fd) const {
    pollfd p{fd, POLLIN, 0};
    while (::ppoll(&p, 1, nullptr, &waitMask_) < 0) {
      if (g_interrupted || errno != EINTR) return g_interrupted == 0;
    }
    return true;
  }

 private:
  struct sigaction previousAction_ {};
  sigset_t previousMask_;
  sigset_t waitMask_;
};

}  // namespace

InputRead ReadInput(const char* path, std::size_t most, bool oneLine, std::string& bytes, std::string* error) {
  const InterruptibleWait wait;
  const bool fromStdin = std::strcmp(path, "-") == 0;
  // Without O_NONBLOCK, opening a FIFO blocks until a writer comes.
  const int fd = fromStdin ? STDIN_FILENO : ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return InputRead::kFailed;
  }
  InputRead result = InputRead::kRead;
  bytes.clear();
  char block[65536];
  while (bytes.size() <= most) {
    if (!wait.WaitReadable(fd)) {
      result = InputRead::kInterrupted;
      break;
    }
    const ssize_t n = ::read(fd, block, std::min(sizeof block, most + 1 - bytes.size()));
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      result = InputRead::kFailed;
    }
    if (n <= 0) break;
    bytes.append(block, static_cast<std::size_t>(n));
    if (oneLine && std::memchr(block, '\n', static_cast<std::size_t>(n)) != nullptr) break;
  }
  if (!fromStdin) ::close(fd);
  return result;
}

GrowingOutputFile::GrowingOutputFile(const char* path) : path_(path) {
#if defined(O_TMPFILE)
  struct stat st {};
  if (::lstat(path, &st) != 0 && errno == ENOENT) {
    early_ = ::open(Folder(path_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  }
#endif
}

GrowingOutputFile::~GrowingOutputFile() { CloseUnnamed(early_); }

void GrowingOutputFile::WriteAt(std::size_t offset, const unsigned char* data, std::size_t length) {
  while (early_ >= 0 && length != 0 && !failed_) {
    const ssize_t n = ::pwrite(early_, data, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;  // written whole at the end
      return;
    }
    data += n;
    offset += static_cast<std::size_t>(n);
    length -= static_cast<std::size_t>(n);
    written_ += static_cast<std::size_t>(n);
  }
}

bool GrowingOutputFile::Finish(const unsigned char* data, std::size_t length, std::string* error) {
  if (early_ >= 0 && !failed_ && written_ == length) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", early_);
    if (::linkat(AT_FDCWD, link, AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      const int fd = early_;
      early_ = -1;
      if (::close(fd) == 0) return true;
      *error = std::strerror(errno);
      return false;
    }
  }
  CloseUnnamed(early_);
  std::FILE* out = std::fopen(path_.c_str(), "wb");
  bool written = false;
  if (out != nullptr) {
    std::setvbuf(out, nullptr, _IONBF, 0);  // one write, straight from the bytes
    written = std::fwrite(data, 1, length, out) == length;
    written = std::fclose(out) == 0 && written;
  }
  if (!written) *error = std::strerror(errno);
  return written;
}

}  // namespace tl
