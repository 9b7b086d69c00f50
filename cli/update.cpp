// tideload-cli update [--reboot] [--user NAME] ADDRESS FILE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "platform/console/console_host.h"
#include "platform/console/console_text.h"
#include "platform/console/console_update.h"
#include "platform/core/dialog.h"
#include "platform/core/platform.h"
#include "update/update_dialog.h"

namespace tl::cli {

namespace {

void UpdateUsage() {
  std::fputs(
      "Usage: tideload-cli update [--reboot] [--user NAME] ADDRESS FILE\n"
      "  ADDRESS  the module's IPv4 address, a.b.c.d\n"
      "  FILE     the S-record application file (*_APP.s19)\n"
      "  --reboot       the module reboots when complete\n"
      "  --user NAME    the user name, when the module asks for one\n"
      "The password comes from TIDELOAD_PASSWORD or, on a terminal, from a prompt.\n",
      stderr);
}

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

int RunUpdate(int argc, char** argv) {
  int reboot = 0;
  std::string user;
  const char* addressText = nullptr;
  const char* file = nullptr;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--reboot") == 0) {
      reboot = 1;
    } else if (std::strcmp(a, "--user") == 0 && i + 1 < argc) {
      user = argv[++i];
    } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      UpdateUsage();
      return 0;
    } else if (std::strncmp(a, "--pass", 6) == 0) {
      std::fputs("tideload-cli: the password is never taken from the command line; "
                 "set TIDELOAD_PASSWORD or answer the prompt\n",
                 stderr);
      return 2;
    } else if (a[0] == '-' && a[1] != '\0') {
      std::fprintf(stderr, "tideload-cli: unknown option '%s'\n", a);
      UpdateUsage();
      return 2;
    } else if (addressText == nullptr) {
      addressText = a;
    } else if (file == nullptr) {
      file = a;
    } else {
      UpdateUsage();
      return 2;
    }
  }
  if (addressText == nullptr || file == nullptr) {
    UpdateUsage();
    return 2;
  }
  std::uint32_t address = 0;
  if (!ParseAddress(addressText, &address) || address == 0) {
    WriteLine(stderr, std::string("tideload-cli: '") + addressText + "' is not a module address");
    return 2;
  }

  ConsoleHost host("tideload-cli");
  host.network.Startup(1, 1, nullptr, nullptr);
  int result = IDCANCEL;
  {
    ConsoleUpdateUser console(host, user);
    UpdateDialog update(file, address, reboot, nullptr);
    result = update.DoModal();
  }
  if (result == IDOK) {
    ShowMessage("Programming Complete without Error.");
    return 0;
  }
  ShowMessage("Update Failed");
  return 1;
}

}  // namespace tl::cli
