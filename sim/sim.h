// The two sides of the simulated module; each takes its own options.
#pragma once

#include <cstdio>

namespace sim {

extern const char kSimVersionText[];

int RunUpdateSim(int argc, char** argv);
int RunDiscoverySim(int argc, char** argv);

void PrintUpdateUsage(std::FILE* out);
void PrintDiscoveryUsage(std::FILE* out);
// Both sides: every command and option.
void PrintHelp(std::FILE* out);

}  // namespace sim
