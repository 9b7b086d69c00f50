#include "cli/rollout.h"

#include <algorithm>

#include "cli/json_reader.h"
#include "cli/targets.h"

namespace tl::cli {

namespace {

constexpr unsigned kFirstRetrySeconds = 2;
constexpr unsigned kLongestRetrySeconds = 60;
constexpr std::size_t kMostListItems = 64;
constexpr std::size_t kMostCount = 1000000;

// A count, or a per cent of modules ("10%"), as a hundredfold number of
// modules (exact, before any rounding); nothing when it is neither.
std::optional<std::size_t> HundredfoldSize(std::string_view text, std::size_t modules) {
  const bool share = !text.empty() && text.back() == '%';
  if (share) text.remove_suffix(1);
  if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  std::size_t value = 0;
  for (char c : text) value = value * 10 + static_cast<std::size_t>(c - '0');
  if (share ? value > 100 : value > kMostCount) return std::nullopt;
  return share ? value * modules : value * 100;
}

}  // namespace

std::optional<std::vector<std::size_t>> WaveEnds(std::string_view list, std::size_t modules, std::string* error) {
  std::vector<std::size_t> ends;
  std::size_t items = 0;
  std::size_t last = 0;  // the size before, hundredfold
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    if (++items > kMostListItems) {
      *error = "more than " + std::to_string(kMostListItems) + " waves";
      return std::nullopt;
    }
    const std::optional<std::size_t> size = HundredfoldSize(item, modules);
    if (!size || *size == 0) {
      *error = "'" + std::string(item) + "' is not a wave size (a count from 1, or a per cent up to 100%)";
      return std::nullopt;
    }
    if (*size < last) {
      *error = "the sizes are cumulative: '" + std::string(item) + "' is smaller than the wave before";
      return std::nullopt;
    }
    last = *size;
    // A share that is not a whole number of modules takes one more.
    const std::size_t end = std::min((*size + 99) / 100, modules);
    if (ends.empty() || end > ends.back()) ends.push_back(end);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  if (ends.empty() || ends.back() < modules) ends.push_back(modules);
  return ends;
}

std::optional<std::size_t> FailureBudget(std::string_view text, std::size_t modules, std::string* error) {
  const std::optional<std::size_t> budget = HundredfoldSize(text, modules);
  if (!budget) {
    *error = "'" + std::string(text) + "' is not a number of failures (N, or P% of the modules)";
    return std::nullopt;
  }
  return *budget / 100;  // a share rounded down
}

bool Succeeded(Outcome outcome) { return outcome == Outcome::kOk || outcome == Outcome::kSkipped; }

bool IsFailure(Outcome outcome) { return !Succeeded(outcome) && outcome != Outcome::kStopped; }

bool Retryable(Outcome outcome) {
  return outcome == Outcome::kConnectionFailed || outcome == Outcome::kTimedOut;
}

unsigned RetryDelaySeconds(unsigned attempt) {
  unsigned delay = kFirstRetrySeconds;
  for (unsigned i = 1; i < attempt && delay < kLongestRetrySeconds; ++i) delay *= 2;
  return std::min(delay, kLongestRetrySeconds);
}

std::optional<std::map<std::uint32_t, EarlierResult>> EarlierResults(std::string_view text,
                                                                    std::string* error) {
  if (text.size() > kJsonMostBytes) {
    *error = "larger than " + std::to_string(kJsonMostBytes) + " bytes";
    return std::nullopt;
  }
  std::map<std::uint32_t, EarlierResult> earlier;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    std::string why;
    const std::optional<nlohmann::json> object = ParseJson(line, &why);
    if (!object) {
      *error = where + why;
      return std::nullopt;
    }
    const auto address = object->is_object() ? object->find("address") : object->end();
    const auto result = object->is_object() ? object->find("result") : object->end();
    const auto sha = object->is_object() ? object->find("sha256") : object->end();
    std::uint32_t at = 0;
    if (address == object->end() || !address->is_string() || result == object->end() || !result->is_string() ||
        sha == object->end() || !(sha->is_string() || sha->is_null()) ||
        !ParseAddress(address->get_ref<const std::string&>().c_str(), &at)) {
      *error = where + "not an object of update --json output";
      return std::nullopt;
    }
    earlier[at] = EarlierResult{result->get<std::string>(), sha->is_string() ? sha->get<std::string>() : ""};
  }
  return earlier;
}

bool DoneBefore(const std::map<std::uint32_t, EarlierResult>& earlier, std::uint32_t address,
                const std::string& sha256) {
  const auto it = earlier.find(address);
  return it != earlier.end() && !sha256.empty() && it->second.sha256 == sha256 &&
         (it->second.result == ResultName(Outcome::kOk) || it->second.result == ResultName(Outcome::kSkipped));
}

}  // namespace tl::cli
