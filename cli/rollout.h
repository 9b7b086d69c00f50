// The rules of a rollout over many modules: waves, the failure budget,
// retries, and what a previous run's results say was done already.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/exit_status.h"

namespace tl::cli {

// "1,10%,100%": cumulative sizes, as counts or per cent of the modules, in
// the order given. The ends of the waves (each one past its last module;
// the last one is modules), empty waves left out, and a last wave of the
// rest when the list stops short; nothing (with the reason) for a bad list.
std::optional<std::vector<std::size_t>> WaveEnds(std::string_view list, std::size_t modules, std::string* error);

// "N" or "P%" (P per cent of the modules, rounded down): the most failures
// a rollout takes; nothing (with the reason) for a bad value.
std::optional<std::size_t> FailureBudget(std::string_view text, std::size_t modules, std::string* error);

// A result that spends the budget: any but ok, skipped and stopped.
bool IsFailure(Outcome outcome);
bool Succeeded(Outcome outcome);

// Whether an update that ended so is tried again, and after how long the
// attempt that follows the given one (1, 2, ...) starts: 2, 4, 8 ... s, at
// most 60 s.
bool Retryable(Outcome outcome);
unsigned RetryDelaySeconds(unsigned attempt);

// What a previous update --json output says of each module: its last
// result and the image it was for.
struct EarlierResult {
  std::string result;
  std::string sha256;
};
// JSON Lines, read with the limits and strictness of --from; nothing, with
// the reason, when the text is not such output.
std::optional<std::map<std::uint32_t, EarlierResult>> EarlierResults(std::string_view text,
                                                                    std::string* error);
// Done before: its last result was ok or skipped, for the same image.
bool DoneBefore(const std::map<std::uint32_t, EarlierResult>& earlier, std::uint32_t address,
                const std::string& sha256);

}  // namespace tl::cli
