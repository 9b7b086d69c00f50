// tideload-cli update [--reboot] [--user NAME] ADDRESS FILE
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "platform/console/console_host.h"
#include "platform/console/console_interrupt.h"
#include "platform/console/console_text.h"
#include "platform/console/console_update.h"
#include "platform/core/dialog.h"
#include "platform/core/platform.h"
#include "update/update_dialog.h"

namespace tl::cli {

namespace {

// As a shell reports a program that SIGINT ended.
constexpr int kInterruptedStatus = 128 + SIGINT;

// Four decimal octets 0..255 separated by dots; nothing else.
bool ParseAddress(const char* text, std::uint32_t* address) {
  std::uint32_t value = 0;
  const char* p = text;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) {
      if (*p != '.') return false;
      ++p;
    }
    unsigned number = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 4) {
      number = number * 10 + static_cast<unsigned>(*p - '0');
      ++p;
      ++digits;
    }
    if (digits == 0 || digits > 3 || number > 255) return false;
    value = (value << 8) | number;
  }
  if (*p != '\0') return false;
  *address = value;
  return true;
}

}  // namespace

const CommandSpec kUpdateCommand = {
    "update",
    "ADDRESS FILE",
    2,
    2,
    "put the file's application into the module at ADDRESS (a.b.c.d)",
    {{"--reboot", nullptr, nullptr, "the module reboots when complete"},
     {"--user", nullptr, "NAME", "the user name, when the module asks for one"}},
    "  FILE is the S-record application file (*_APP.s19). The password comes from\n"
    "  TIDELOAD_PASSWORD or, on a terminal, from a prompt that does not echo.\n"
    "Exit status: 0 the update completed; 1 it failed; 2 a usage error or a bad\n"
    "address; 130 interrupted (Ctrl-C).\n",
};

int RunUpdate(int argc, char** argv) {
  for (int i = 0; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strncmp(argv[i], "--pass", 6) == 0) {
      std::fputs("tideload-cli: the password is never taken from the command line; "
                 "set TIDELOAD_PASSWORD or answer the prompt\n",
                 stderr);
      return 2;
    }
  }
  GivenOptions given;
  if (std::optional<int> status = ParseCommandLine(kUpdateCommand, argc, argv, given)) return *status;
  const int reboot = given.Has("--reboot") ? 1 : 0;
  const std::string user = given.Has("--user") ? given.Value("--user") : "";
  const char* addressText = given.Operands()[0];
  const char* file = given.Operands()[1];
  std::uint32_t address = 0;
  if (!ParseAddress(addressText, &address) || address == 0) {
    WriteLine(stderr, std::string("tideload-cli: '") + addressText + "' is not a module address");
    return 2;
  }

  ConsoleHost host("tideload-cli");
  host.network.Startup(1, 1, nullptr, nullptr);
  int result = kResultCancel;
  bool interrupted = false;
  {
    ConsoleUpdateUser console(host, user);
    ConsoleInterrupt interrupt(host.loop, [&console] { console.Interrupt(); });
    UpdateDialog update(file, address, reboot, nullptr);
    result = update.DoModal();
    interrupted = interrupt.Interrupted();
  }  // the connection closed, the bar's line ended, the terminal as it was
  if (interrupted && result != kResultOk) {
    std::fputs("tideload-cli: update interrupted\n", stderr);
    return kInterruptedStatus;
  }
  if (result == kResultOk) {
    ShowMessage("Programming Complete without Error.");
    return 0;
  }
  ShowMessage("Update Failed");
  return 1;
}

}  // namespace tl::cli
