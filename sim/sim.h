// The two sides of the simulated module; each takes its own options.
#pragma once

namespace sim {

int RunUpdateSim(int argc, char** argv);
int RunDiscoverySim(int argc, char** argv);

}  // namespace sim
