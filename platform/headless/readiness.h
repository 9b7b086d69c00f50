// The system's part of the event loop: waiting until descriptors are ready.
#pragma once

#include <vector>

namespace tl {

struct Readiness {
  int descriptor;
  bool read;   // wanted; then found (an error or a hang-up counts)
  bool write;
};

// Waits at most timeoutMs (0: only looks) until one of watched is ready,
// then leaves in watched the ready ones alone, with what each is ready for.
void WaitReady(std::vector<Readiness>& watched, int timeoutMs);

}  // namespace tl
