// update --from: find --json output from a file, read with the strict
// reader. A result is a list of targets or an error, never both; what was
// read holds the bounds; an error is one short line of text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/json_reader.h"
#include "cli/targets.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The deepest nesting and the number of values of a read value.
void Measure(const nlohmann::json& value, std::size_t depth, std::size_t* deepest, std::size_t* values) {
  ++*values;
  if (!value.is_structured()) return;
  *deepest = std::max(*deepest, depth + 1);
  for (const nlohmann::json& item : value) Measure(item, depth + 1, deepest, values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const std::optional<nlohmann::json> json = tl::cli::ParseJson(text, &error);
  Check(json.has_value() == error.empty());
  if (json) {
    std::size_t deepest = 0;
    std::size_t values = 0;
    Measure(*json, 0, &deepest, &values);
    Check(deepest <= tl::cli::kJsonMostDepth && values <= tl::cli::kJsonMostValues);
  } else {
    Check(error.size() < 200 && error.find('\n') == std::string::npos);
  }
  std::string why;
  const std::optional<std::vector<tl::cli::UpdateTarget>> targets = tl::cli::FindOutputTargets(text, &why);
  Check(targets.has_value() == why.empty());
  if (targets) {
    Check(json && json->is_array() && targets->size() == json->size());
    for (const tl::cli::UpdateTarget& t : *targets) Check(t.address != 0);
  }
  return 0;
}
