#include "platform/console/console_prompt.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "platform/core/secret.h"

namespace tl {

namespace {

// The terminal's settings while echo is off, restored on every way out.
termios g_savedTerminal;
volatile sig_atomic_t g_echoOff = 0;

void RestoreEcho() {
  if (g_echoOff) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    g_echoOff = 0;
  }
}

void RestoreEchoOnSignal(int signalNumber) {
  RestoreEcho();
  ::signal(signalNumber, SIG_DFL);
  ::raise(signalNumber);
}

bool EchoOff() {
  if (::tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) return false;
  termios quiet = g_savedTerminal;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ICANON;
  // Ctrl-C is the loop's (an interrupt ends the prompt there).
  ::signal(SIGTERM, RestoreEchoOnSignal);
  ::signal(SIGHUP, RestoreEchoOnSignal);
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0) return false;
  g_echoOff = 1;
  return true;
}

// stdin watched on the loop, in canonical mode: once readable, a whole
// line is pending.
class TerminalReader final : public ConsolePasswordPrompt::Reader {
 public:
  TerminalReader(EventLoop& loop, std::function<void(const std::string*)> done)
      : loop_(loop), done_(std::move(done)) {
    EchoOff();
    loop_.Watch(STDIN_FILENO, true, false, [this](bool readable, bool) {
      if (readable) OnReadable();
    });
  }
  ~TerminalReader() override {
    loop_.Unwatch(STDIN_FILENO);
    RestoreEcho();
    WipeSecret(typed_);
  }

 private:
  void OnReadable() {
    char c = 0;
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, &c, 1);
      if (n <= 0 || c == '\n' || c == '\r') break;
      typed_.push_back(c);
    }
    std::string typed = std::move(typed_);
    const bool line = c == '\n' || c == '\r';
    done_(line ? &typed : nullptr);  // may end this reader
    WipeSecret(typed);
  }

  EventLoop& loop_;
  std::function<void(const std::string*)> done_;
  std::string typed_;
};

}  // namespace

std::unique_ptr<ConsolePasswordPrompt::Reader> ConsolePasswordPrompt::ReadWithoutEcho(
    EventLoop& loop, std::function<void(const std::string*)> done) {
  return std::make_unique<TerminalReader>(loop, std::move(done));
}

}  // namespace tl
