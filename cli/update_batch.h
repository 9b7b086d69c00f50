// tideload-cli update for one module or many: the file loaded once, then
// one update session per module side by side on one loop, all sending the
// same image; each result reported as it ends, then a summary.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cli/targets.h"
#include "platform/console/console_host.h"

namespace tl::cli {

struct BatchSettings {
  std::string file;
  int reboot = 0;
  bool dryRun = false;  // stop after the module's platform; send nothing
  std::string userName;
  std::optional<std::string> password;  // none: a prompt, for one module on a terminal
  std::size_t jobs = 8;                 // updates at the same time
  bool json = false;
  // Set: each module that succeeded (and rebooted) is searched until it is
  // back, at most this many seconds after its update.
  std::optional<double> verifySeconds;
};

// Runs an update for every target, at most settings.jobs at once; returns
// the exit status: 0 when every one succeeded, 130 after Ctrl-C, else the
// status of the first one (in the targets' order) that did not.
int RunUpdates(ConsoleHost& host, const std::vector<UpdateTarget>& targets, const BatchSettings& settings);

}  // namespace tl::cli
