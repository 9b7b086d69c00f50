// tideload-sim: a simulated module for users without hardware and for tests.
//   tideload-sim [update options]       the module's TCP update side
//   tideload-sim discover [options]     the module's UDP discovery side
#include <cstdio>
#include <cstring>

#include "sim/sim.h"

namespace sim {

namespace {

const char kSimVersionText[] = "Tideload Simulator Version 1.0";

}  // namespace

void PrintHelp(std::FILE* out) {
  std::fprintf(out, "%s\n%s\nBoth take --help and --version.\n", UpdateHelp().c_str(), DiscoveryHelp().c_str());
}

void AddHelpAndVersion(CLI::App& app) {
  app.set_help_flag("-h,--help", "show this text");
  app.set_version_flag("--version", kSimVersionText, "show the version");
  app.get_formatter()->column_width(22);
}

std::optional<int> ParseSide(CLI::App& app, int argc, char** argv, void (*help)(std::FILE*)) {
  AddHelpAndVersion(app);
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    help(stdout);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::puts(e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", app.get_name().c_str(), e.what(), app.get_name().c_str());
    return 2;
  }
}

}  // namespace sim

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "discover") == 0) {
    return sim::RunDiscoverySim(argc - 1, argv + 1);
  }
  return sim::RunUpdateSim(argc, argv);
}
