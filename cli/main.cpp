// tideload-cli: the program's console side.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/options.h"
#include "platform/console/console_system.h"
#include "platform/console/console_text.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"inspect", tl::cli::RunInspect},
    {"update", tl::cli::RunUpdate},
    {"find", tl::cli::RunFind},
};

void PrintUsage(std::FILE* out) {
  std::fputs("Usage: tideload-cli COMMAND [OPTIONS]\n       tideload-cli --help | --version\n", out);
  tl::cli::InspectOptions inspect;
  tl::cli::UpdateOptions update;
  tl::cli::FindOptions find;
  for (const auto& command : {tl::cli::InspectCommand(inspect), tl::cli::UpdateCommand(update),
                              tl::cli::FindCommand(find)}) {
    std::fprintf(out, "\n%s", tl::cli::CommandHelp(*command).c_str());
  }
  std::fputc('\n', out);
  tl::cli::PrintExitStatuses(out);
  std::fputs("\nEvery command takes --help.\n", out);
}

}  // namespace

int main(int argc, char** argv) {
  tl::ConsoleArguments arguments(argc, argv);  // UTF-8
  argc = arguments.Count();
  argv = arguments.Values();
  if (argc < 2) {
    PrintUsage(stderr);
    return tl::cli::ExitStatus(tl::cli::Outcome::kUsage);
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
      std::strcmp(command, "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(command, "--version") == 0) {
    std::puts(tl::cli::kVersionText);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(command, c.name) == 0) return c.run(argc - 2, argv + 2);
  }
  tl::WriteLine(stderr, std::string("tideload-cli: unknown command '") + command + "'");
  std::fputs("Try 'tideload-cli --help'.\n", stderr);
  return tl::cli::ExitStatus(tl::cli::Outcome::kUsage);
}
