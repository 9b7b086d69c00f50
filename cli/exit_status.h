// How a tideload-cli command ended, by class of failure: one exit status and
// one result name each, the same for every command.
#pragma once

#include <cstdio>

namespace tl::cli {

enum class Outcome {
  kOk,
  kFailed,            // none of the classes below (an output could not be written)
  kUsage,             // the command line
  kLoadFailed,        // the file did not load
  kConnectionFailed,  // could not connect, a send failed, the module closed the connection
  kTimedOut,          // no line from the module for 30 s
  kRefused,           // an error line from the module, or a platform the module does not take
  kSkipped,           // not updated: it runs the application already, or was done before
  kStopped,           // not started: the rollout's failure budget was spent
  kDifferentDevice,   // not touched: another device than the one listed answers at its address
  kWrongApp,          // back after its update, running another application than expected
  kCancelled,         // the credentials prompt cancelled, or Ctrl-C
};

struct OutcomeInfo {
  Outcome outcome;
  int status;         // the exit status
  const char* name;   // the result in JSON and in the summary
  const char* means;  // for --help and the README
};

inline constexpr OutcomeInfo kOutcomes[] = {
    {Outcome::kOk, 0, "ok", "success"},
    {Outcome::kSkipped, 0, "skipped", "not updated: it runs the expected application, or was done before"},
    {Outcome::kFailed, 1, "failed",
     "failed otherwise (an output could not be written, a comeback could not be verified)"},
    {Outcome::kUsage, 2, "usage", "a usage error"},
    {Outcome::kLoadFailed, 3, "load-failed", "the file did not load"},
    {Outcome::kConnectionFailed, 4, "connection-failed",
     "could not connect, a send failed, or the module closed the connection"},
    {Outcome::kTimedOut, 5, "timed-out", "no answer in time (30 s without a line)"},
    {Outcome::kRefused, 6, "refused", "the module refused (an error line, or the platform)"},
    {Outcome::kStopped, 7, "stopped", "not started: more modules failed than the rollout allows"},
    {Outcome::kDifferentDevice, 8, "different-device",
     "not touched: the device at the address is not the one listed, or did not answer"},
    {Outcome::kWrongApp, 9, "wrong-app", "back after the update, running another application than expected"},
    {Outcome::kCancelled, 130, "cancelled", "cancelled (no password, the prompt ended) or Ctrl-C"},
};

const OutcomeInfo& InfoOf(Outcome outcome);
inline int ExitStatus(Outcome outcome) { return InfoOf(outcome).status; }
inline const char* ResultName(Outcome outcome) { return InfoOf(outcome).name; }

// "Exit status, every command:" and the table, for --help.
void PrintExitStatuses(std::FILE* out);

}  // namespace tl::cli
