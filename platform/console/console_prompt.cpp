#include "platform/console/console_prompt.h"

#include <cstdio>

#include "platform/console/console_text.h"

namespace tl {

ConsolePasswordPrompt::ConsolePasswordPrompt(EventLoop& loop) : loop_(loop) {}

ConsolePasswordPrompt::~ConsolePasswordPrompt() { End(); }

bool ConsolePasswordPrompt::Possible() { return IsTerminal(stdin); }

void ConsolePasswordPrompt::Ask(std::string_view text, Done done) {
  End();
  // Echo goes off before the prompt shows, so that no key typed at once is echoed.
  reader_ = ReadWithoutEcho(loop_, [this](const std::string* typed) { Finish(typed); });
  WriteText(stderr, text);
  std::fflush(stderr);
  done_ = std::move(done);
}

void ConsolePasswordPrompt::End() {
  if (Asking()) Finish(nullptr);
}

void ConsolePasswordPrompt::Finish(const std::string* typed) {
  reader_.reset();  // echo is back; typed stays the reader's caller's until done returns
  std::fputc('\n', stderr);
  std::fflush(stderr);
  Done done = std::move(done_);
  done_ = nullptr;
  done(typed);
}

}  // namespace tl
