// The two sides of the simulated module; each takes its own options,
// declared with CLI11.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>

namespace sim {

int RunUpdateSim(int argc, char** argv);
int RunDiscoverySim(int argc, char** argv);

// Each side's help, made from its declarations.
std::string UpdateHelp();
std::string DiscoveryHelp();
// Both sides: every command and option.
void PrintHelp(std::FILE* out);

// Adds --help and --version, the last options of a side's app.
void AddHelpAndVersion(CLI::App& app);
// Parses a side's command line. Nothing when it is to run; else the exit
// status: 0 after --help (printed by help) or --version, 2 after a usage
// error, said on stderr.
std::optional<int> ParseSide(CLI::App& app, int argc, char** argv, void (*help)(std::FILE*));

}  // namespace sim
