// tideload-cli: the program's console side.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "platform/console/console_text.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fputs(
      "Usage: tideload-cli COMMAND [OPTIONS]\n"
      "\n"
      "Commands:\n"
      "  inspect [--json] [--output IMAGE.bin] FILE\n"
      "      load an S-record application file and describe its image\n"
      "  update [--reboot] [--user NAME] ADDRESS FILE\n"
      "      put the file's application into the module at ADDRESS\n"
      "      (the password comes from TIDELOAD_PASSWORD or a prompt)\n"
      "  find [--json] [--seconds S]\n"
      "      search the local network for modules and print what answered\n"
      "\n"
      "  --help      show this text\n"
      "  --version   show the version\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
      std::strcmp(command, "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(command, "--version") == 0) {
    std::puts("Tideload Version 1.0");
    return 0;
  }
  if (std::strcmp(command, "inspect") == 0) return tl::cli::RunInspect(argc - 2, argv + 2);
  if (std::strcmp(command, "update") == 0) return tl::cli::RunUpdate(argc - 2, argv + 2);
  if (std::strcmp(command, "find") == 0) return tl::cli::RunFind(argc - 2, argv + 2);
  tl::WriteLine(stderr, std::string("tideload-cli: unknown command '") + command + "'");
  std::fputc('\n', stderr);
  PrintUsage(stderr);
  return 2;
}
