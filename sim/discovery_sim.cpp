#include <cstdio>

#include "sim/sim.h"

namespace sim {

int RunDiscoverySim(int, char**) {
  std::fputs("tideload-sim: the discovery side is not built yet\n", stderr);
  return 2;
}

}  // namespace sim
