// tideload-sim: a simulated module for users without hardware and for tests.
//   tideload-sim [update options]       the module's TCP update side
//   tideload-sim discover [options]     the module's UDP discovery side
#include <cstdio>
#include <cstring>

#include "sim/sim.h"

namespace sim {

const char kSimVersionText[] = "Tideload Simulator Version 1.0";

void PrintHelp(std::FILE* out) {
  PrintUpdateUsage(out);
  std::fputc('\n', out);
  PrintDiscoveryUsage(out);
  std::fputs("\nBoth take --help and --version.\n", out);
}

}  // namespace sim

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "discover") == 0) {
    return sim::RunDiscoverySim(argc - 2, argv + 2);
  }
  return sim::RunUpdateSim(argc - 1, argv + 1);
}
