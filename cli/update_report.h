// What tideload-cli update tells of each module: the result a script acts
// on, as one JSON object, as the words of a dry run or of a verify, and the
// summary table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "discovery/module_watch.h"

namespace tl::cli {

// With --verify: the answer that showed the module back after its reboot
// (none: it did not come back).
struct Comeback {
  std::optional<ModuleIdentity> after;
  double seconds = 0;  // from the end of its update until it answered
};

struct UpdateResult {
  std::uint32_t address = 0;
  std::string file;
  // The loaded image; none when the file did not load.
  std::optional<std::string> filePlatform;
  std::uint32_t startAddress = 0;
  std::uint32_t imageLength = 0;
  std::string sha256;
  std::optional<std::string> modulePlatform;  // as its line 100 named it
  std::uint64_t bytesSent = 0;
  double seconds = 0;
  Outcome outcome = Outcome::kCancelled;
  std::vector<std::string> messages;  // code-page texts, in order
  std::optional<int> lastCode;        // of the last line the module sent
  std::optional<bool> platformsAgree; // a dry run's finding
  // Who answered a search at the address before the update, when one was made.
  std::optional<ModuleIdentity> before;
  std::optional<Comeback> verify;
  std::size_t wave = 1;    // of the rollout, from 1
  unsigned attempts = 0;   // updates tried; 0: the module was not contacted
};

// Who wrote a line of the audit log, where, and when (UTC, ISO 8601).
struct LogContext {
  std::string operatorName;
  std::string host;
  std::string time;
};

// One line of JSON, without its line end.
std::string ResultJson(const UpdateResult& result);
// The audit log's line for a module that ended.
std::string LogJson(const UpdateResult& result, const LogContext& context);
// "10.77.1.3: the file's platform RT40, the module's RT40-512: they agree"
std::string DryRunText(const UpdateResult& result);
// "10.77.1.1: back after 3.1 s, running Valve 2.2 (before: Valve 2.1)";
// with expected, what it runs is said against it when they differ.
std::string ComebackText(const UpdateResult& result, const std::string& notBackBecause,
                         const std::optional<std::string>& expected = std::nullopt);
// ADDRESS RESULT SECONDS, one row per module in the order given, then the
// results counted per wave.
void PrintSummary(std::FILE* out, const std::vector<UpdateResult>& results);

}  // namespace tl::cli
