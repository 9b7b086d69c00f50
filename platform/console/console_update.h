// The console's stand-in for the user at the credentials dialog of an
// update. The password is known beforehand (TIDELOAD_PASSWORD or a file),
// or typed at a prompt that does not echo when stdin is a terminal and a
// prompt is allowed; otherwise the dialog is cancelled with a word why.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/console/console_host.h"

namespace tl {

class ConsoleUpdateUser {
 public:
  struct Console {
    std::function<void()> beforePrompt;        // the progress line is ended
    std::function<void(std::string_view)> say;  // a line of our own
  };
  ConsoleUpdateUser(ConsoleHost& host, std::string userName, std::optional<std::string> password,
                    bool mayPrompt, Console console);
  ~ConsoleUpdateUser();
  ConsoleUpdateUser(const ConsoleUpdateUser&) = delete;
  ConsoleUpdateUser& operator=(const ConsoleUpdateUser&) = delete;

  // The user pressed Ctrl-C: a prompt in progress is ended, which cancels
  // its credentials. True when there was one.
  bool Interrupt();

 private:
  void AnswerCredentials(HeadlessWindow& window);
  void StartPrompt(HeadlessWindow& window);
  void OnPromptReadable(HeadlessWindow& window);
  void FinishPrompt(HeadlessWindow& window, bool ok);

  ConsoleHost& host_;
  std::string userName_;
  std::optional<std::string> password_;
  bool mayPrompt_;
  Console console_;
  HeadlessUi::Hooks previous_;
  // The prompt in progress: its credentials window, and what was typed.
  HeadlessWindow* prompt_ = nullptr;
  std::string typed_;
};

}  // namespace tl
