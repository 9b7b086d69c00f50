#include "platform/console/console_prompt.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "platform/console/console_text.h"
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

}  // namespace

ConsolePasswordPrompt::ConsolePasswordPrompt(EventLoop& loop) : loop_(loop) {}

ConsolePasswordPrompt::~ConsolePasswordPrompt() {
  End();
  WipeSecret(typed_);
}

bool ConsolePasswordPrompt::Possible() { return ::isatty(STDIN_FILENO) == 1; }

void ConsolePasswordPrompt::Ask(std::string_view text, Done done) {
  End();
  EchoOff();  // before the prompt shows, so that no key typed at once is echoed
  WriteText(stderr, text);
  std::fflush(stderr);
  done_ = std::move(done);
  WipeSecret(typed_);
  loop_.Watch(STDIN_FILENO, true, false, [this](bool readable, bool) {
    if (readable) OnReadable();
  });
}

void ConsolePasswordPrompt::End() {
  if (Asking()) Finish(false);
}

void ConsolePasswordPrompt::OnReadable() {
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n <= 0) {
      Finish(false);  // end of input
      return;
    }
    if (c == '\n' || c == '\r') {
      Finish(true);
      return;
    }
    typed_.push_back(c);
    // In canonical mode a whole line is pending once readable.
  }
}

void ConsolePasswordPrompt::Finish(bool ok) {
  loop_.Unwatch(STDIN_FILENO);
  RestoreEcho();
  std::fputc('\n', stderr);
  std::fflush(stderr);
  Done done = std::move(done_);
  done_ = nullptr;
  done(ok ? &typed_ : nullptr);
  WipeSecret(typed_);
}

}  // namespace tl
