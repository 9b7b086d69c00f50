#include "platform/console/console_update.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "platform/console/console_text.h"
#include "platform/core/layout.h"

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

void Wipe(std::string& secret) {
  volatile char* p = secret.data();
  for (std::size_t i = 0; i < secret.size(); ++i) p[i] = '\0';
  secret.clear();
}

}  // namespace

ConsoleUpdateUser::ConsoleUpdateUser(ConsoleHost& host, std::string userName,
                                     std::optional<std::string> password, bool mayPrompt,
                                     Console console)
    : host_(host),
      userName_(std::move(userName)),
      password_(std::move(password)),
      mayPrompt_(mayPrompt),
      console_(std::move(console)) {
  previous_ = host_.ui.hooks();
  auto shown = previous_.onDialogShown;
  host_.ui.hooks().onDialogShown = [this, shown](HeadlessWindow& window) {
    if (window.Owner().LayoutId() == kDialogCredentials) {
      AnswerCredentials(window);
    } else if (shown) {
      shown(window);
    }
  };
}

ConsoleUpdateUser::~ConsoleUpdateUser() {
  RestoreEcho();
  Wipe(typed_);
  if (password_) Wipe(*password_);
  host_.ui.hooks().onDialogShown = previous_.onDialogShown;
}

void ConsoleUpdateUser::AnswerCredentials(HeadlessWindow& window) {
  window.Type(kIdUserName, userName_);
  if (password_) {
    window.Type(kIdPassword, *password_);
    window.Press(kIdOk);
    return;
  }
  if (mayPrompt_ && ::isatty(STDIN_FILENO) == 1) {
    StartPrompt(window);
    return;
  }
  console_.say("tideload-cli: the module asks for a password: set TIDELOAD_PASSWORD or use --password-file");
  window.Press(kIdCancel);
}

// The prompt is read from the event loop, so that the update's timer and
// socket go on while the user types.
void ConsoleUpdateUser::StartPrompt(HeadlessWindow& window) {
  console_.beforePrompt();
  EchoOff();  // before the prompt shows, so that no key typed at once is echoed
  WriteText(stderr, "Password needed" + (userName_.empty() ? "" : " for " + userName_) + ": ");
  std::fflush(stderr);
  prompt_ = &window;
  Wipe(typed_);
  host_.loop.Watch(STDIN_FILENO, true, false,
                   [this](bool readable, bool) {
                     if (readable) OnPromptReadable(*prompt_);
                   });
}

bool ConsoleUpdateUser::Interrupt() {
  if (prompt_ == nullptr) return false;
  FinishPrompt(*prompt_, false);  // cancels the credentials, and so the update
  return true;
}

void ConsoleUpdateUser::OnPromptReadable(HeadlessWindow& window) {
  char c = 0;
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n <= 0) {
      FinishPrompt(window, false);  // end of input: cancelled
      return;
    }
    if (c == '\n' || c == '\r') {
      FinishPrompt(window, true);
      return;
    }
    typed_.push_back(c);
    // In canonical mode a whole line is pending once readable.
  }
}

void ConsoleUpdateUser::FinishPrompt(HeadlessWindow& window, bool ok) {
  host_.loop.Unwatch(STDIN_FILENO);
  RestoreEcho();
  std::fputc('\n', stderr);
  std::fflush(stderr);
  prompt_ = nullptr;
  if (ok) window.Type(kIdPassword, typed_);
  Wipe(typed_);
  window.Press(ok ? kIdOk : kIdCancel);
}

}  // namespace tl
