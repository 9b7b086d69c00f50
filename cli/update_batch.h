// tideload-cli update for one module or many: the file loaded once, then
// one update session per module side by side on one loop, all sending the
// same image, in waves that stop once too many have failed; each result
// reported as it ends, then a summary.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/rollout.h"
#include "cli/targets.h"
#include "platform/console/console_host.h"
#include "platform/console/console_log.h"

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
  // The application the new image runs (as find prints it): a module that
  // runs it already is skipped, one that comes back running another fails.
  std::optional<std::string> expectApp;
  // Where each wave ends (WaveEnds); empty: one wave of all.
  std::vector<std::size_t> waveEnds;
  // The most failures before no new update starts; none: no limit.
  std::optional<std::size_t> failureBudget;
  unsigned retries = 0;  // more attempts after a lost connection or a time-out
  // A previous run's results: what it did is not done again.
  std::optional<std::map<std::uint32_t, EarlierResult>> earlier;
  AppendLog* log = nullptr;  // one line per module as it ends
};

// Runs an update for every target, at most settings.jobs at once; returns
// the exit status: 0 when every one succeeded (or was skipped), 130 after
// Ctrl-C, else the status of the first one (in the targets' order) that
// did not.
int RunUpdates(ConsoleHost& host, const std::vector<UpdateTarget>& targets, const BatchSettings& settings);

}  // namespace tl::cli
