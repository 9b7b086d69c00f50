// The console's stand-in for the user during an update: draws the progress
// bar and answers the credentials dialog. The password comes from
// TIDELOAD_PASSWORD or, on a terminal, from a prompt that does not echo.
#pragma once

#include <string>

#include "platform/console/console_host.h"

namespace tl {

class ConsoleUpdateUser {
 public:
  ConsoleUpdateUser(ConsoleHost& host, std::string userName);
  ~ConsoleUpdateUser();
  ConsoleUpdateUser(const ConsoleUpdateUser&) = delete;
  ConsoleUpdateUser& operator=(const ConsoleUpdateUser&) = delete;

  // The user pressed Ctrl-C: the bar's line and a prompt are ended, and the
  // update is cancelled.
  void Interrupt();

 private:
  void OnProgress(int position);
  void EndBarLine();
  void AnswerCredentials(HeadlessWindow& window);
  void StartPrompt(HeadlessWindow& window);
  void OnPromptReadable(HeadlessWindow& window);
  void FinishPrompt(HeadlessWindow& window, bool ok);

  ConsoleHost& host_;
  std::string userName_;
  bool terminal_;        // stderr is a terminal: draw a bar
  bool barOpen_ = false; // the bar's line has not been ended
  int lastShown_ = -1;
  HeadlessUi::Hooks previous_;
  // The prompt in progress: its credentials window, and what was typed.
  HeadlessWindow* prompt_ = nullptr;
  std::string typed_;
};

}  // namespace tl
