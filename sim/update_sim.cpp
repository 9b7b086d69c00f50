#include <cstdio>

#include "sim/sim.h"

namespace sim {

int RunUpdateSim(int, char**) {
  std::fputs("tideload-sim: the update side is not built yet\n", stderr);
  return 2;
}

}  // namespace sim
