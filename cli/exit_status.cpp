#include "cli/exit_status.h"

namespace tl::cli {

const OutcomeInfo& InfoOf(Outcome outcome) {
  const OutcomeInfo* failed = nullptr;
  for (const OutcomeInfo& info : kOutcomes) {
    if (info.outcome == outcome) return info;
    if (info.outcome == Outcome::kFailed) failed = &info;
  }
  return *failed;  // every outcome has its row
}

void PrintExitStatuses(std::FILE* out) {
  std::fputs("Exit status, every command:\n", out);
  for (const OutcomeInfo& info : kOutcomes) {
    std::fprintf(out, "  %3d  %-18s %s\n", info.status, info.name, info.means);
  }
}

}  // namespace tl::cli
