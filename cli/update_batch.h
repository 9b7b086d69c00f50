// tideload-cli update for one module or many: the runs side by side on one
// loop, each reported as it ends, then a summary.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cli/targets.h"
#include "cli/update_run.h"
#include "platform/console/console_host.h"

namespace tl::cli {

struct BatchSettings {
  UpdateRun::Settings run;
  std::string userName;
  std::optional<std::string> password;  // none: a prompt, for one module on a terminal
  std::size_t jobs = 8;                 // runs at the same time
  bool json = false;
  // Set: after the updates (which reboot), search each module that succeeded
  // until it answers again or this many seconds pass.
  std::optional<double> verifySeconds;
};

// Runs an update for every target, at most settings.jobs at once; returns
// the exit status: 0 when every one succeeded, 130 after Ctrl-C, else the
// status of the first one (in the targets' order) that did not.
int RunUpdates(ConsoleHost& host, const std::vector<UpdateTarget>& targets, BatchSettings& settings);

}  // namespace tl::cli
