#include "platform/console/console_files.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tl {

namespace {

volatile sig_atomic_t g_interrupted = 0;

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

bool WriteWholeFile(const char* path, const unsigned char* data, std::size_t length, std::string* error) {
  std::FILE* out = std::fopen(path, "wb");
  bool written = false;
  if (out != nullptr) {
    std::setvbuf(out, nullptr, _IONBF, 0);  // one write, straight from the image
    written = std::fwrite(data, 1, length, out) == length;
    written = std::fclose(out) == 0 && written;
  }
  if (!written) *error = std::strerror(errno);
  return written;
}

}  // namespace tl
