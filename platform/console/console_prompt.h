// A password typed at the terminal without echo. The prompt is read while
// the console's loop runs, so that updates go on while the user types; echo
// is restored on every way out, a signal that ends the program included.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/headless/event_loop.h"

namespace tl {

class ConsolePasswordPrompt {
 public:
  // The line typed, or null when input ended or the prompt was ended. The
  // text is wiped once this returns.
  using Done = std::function<void(const std::string* typed)>;

  explicit ConsolePasswordPrompt(EventLoop& loop);
  ~ConsolePasswordPrompt();  // ends a prompt in progress
  ConsolePasswordPrompt(const ConsolePasswordPrompt&) = delete;
  ConsolePasswordPrompt& operator=(const ConsolePasswordPrompt&) = delete;

  // Whether stdin is a terminal to ask at.
  static bool Possible();
  // Writes text on stderr and reads one line without echo.
  void Ask(std::string_view text, Done done);
  bool Asking() const { return static_cast<bool>(done_); }
  // Ends a prompt in progress; its Done gets null.
  void End();

  // The system's part: while it lives, echo is off and one line is read;
  // done gets it on the loop (null: input ended), wiped once done returns.
  class Reader {
   public:
    virtual ~Reader() = default;
  };

 private:
  static std::unique_ptr<Reader> ReadWithoutEcho(EventLoop& loop, std::function<void(const std::string*)> done);
  void Finish(const std::string* typed);

  EventLoop& loop_;
  Done done_;
  std::unique_ptr<Reader> reader_;
};

}  // namespace tl
