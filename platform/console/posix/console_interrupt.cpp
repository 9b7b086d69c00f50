#include "platform/console/console_interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace tl {

namespace {

volatile sig_atomic_t g_interruptPipe = -1;

void WriteToPipe(int) {
  const int saved = errno;
  const char byte = 1;
  if (g_interruptPipe >= 0 && ::write(g_interruptPipe, &byte, 1) < 0) {
    // Full: an interrupt is pending already.
  }
  errno = saved;
}

}  // namespace

// SIGINT's handler only writes a byte to a pipe that the loop watches.
struct ConsoleInterrupt::Handler {
  int pipe[2] = {-1, -1};
  struct sigaction previous {};
};

ConsoleInterrupt::ConsoleInterrupt(EventLoop& loop, std::function<void()> onInterrupt)
    : loop_(loop), onInterrupt_(std::move(onInterrupt)), handler_(std::make_unique<Handler>()) {
  int* pipe = handler_->pipe;
  if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_interruptPipe = pipe[1];
  loop_.Watch(pipe[0], true, false, [this, pipe](bool readable, bool) {
    if (!readable) return;
    char drained[64];
    while (::read(pipe[0], drained, sizeof drained) > 0) {
    }
    OnInterrupt();
  });
  struct sigaction action {};
  action.sa_handler = WriteToPipe;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &handler_->previous);
}

ConsoleInterrupt::~ConsoleInterrupt() {
  int* pipe = handler_->pipe;
  if (pipe[0] < 0) return;
  ::sigaction(SIGINT, &handler_->previous, nullptr);
  g_interruptPipe = -1;
  loop_.Unwatch(pipe[0]);
  ::close(pipe[0]);
  ::close(pipe[1]);
}

}  // namespace tl
