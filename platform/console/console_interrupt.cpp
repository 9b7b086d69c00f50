#include "platform/console/console_interrupt.h"

#include <fcntl.h>
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

ConsoleInterrupt::ConsoleInterrupt(EventLoop& loop, std::function<void()> onInterrupt)
    : loop_(loop), onInterrupt_(std::move(onInterrupt)) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_interruptPipe = pipe_[1];
  loop_.Watch(pipe_[0], true, false, [this](bool readable, bool) {
    if (readable) OnReadable();
  });
  struct sigaction action {};
  action.sa_handler = WriteToPipe;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previous_);
}

ConsoleInterrupt::~ConsoleInterrupt() {
  if (pipe_[0] < 0) return;
  ::sigaction(SIGINT, &previous_, nullptr);
  g_interruptPipe = -1;
  loop_.Unwatch(pipe_[0]);
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

void ConsoleInterrupt::OnReadable() {
  char drained[64];
  while (::read(pipe_[0], drained, sizeof drained) > 0) {
  }
  if (interrupted_) return;
  interrupted_ = true;
  onInterrupt_();
}

}  // namespace tl
