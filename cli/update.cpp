// tideload-cli update [OPTIONS] ADDRESS... FILE
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/input_file.h"
#include "cli/json_reader.h"
#include "cli/targets.h"
#include "cli/update_batch.h"
#include "discovery/device_record.h"
#include "platform/console/console_host.h"
#include "platform/console/console_text.h"
#include "platform/core/secret.h"

namespace tl::cli {

namespace {

constexpr std::size_t kMostJobs = 256;
constexpr std::size_t kMostPasswordBytes = 4096;
constexpr unsigned long kMostVerifySeconds = 3600;
const char kPasswordFileOption[] = "--password-file";

// The first line of the file (or of stdin for "-"), without its line end.
InputRead ReadPassword(const char* path, std::string& password, std::string* error) {
  if (std::strcmp(path, "-") == 0 && ::isatty(STDIN_FILENO) == 1) {
    *error = "stdin is a terminal: leave --password-file out to be asked without echo";
    return InputRead::kFailed;
  }
  std::string why;
  const InputRead read = ReadInput(path, kMostPasswordBytes, true, password, &why);
  if (read == InputRead::kFailed) *error = std::string("cannot read '") + path + "': " + why;
  if (read != InputRead::kRead) return read;
  const std::size_t end = password.find('\n');
  if (end == std::string::npos && password.size() > kMostPasswordBytes) {
    WipeSecret(password);
    *error = std::string("cannot read a password from '") + path + "': its first line is longer than " +
             std::to_string(kMostPasswordBytes) + " bytes";
    return InputRead::kFailed;
  }
  if (end != std::string::npos) password.erase(end);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return InputRead::kRead;
}

// Nothing more after Ctrl-C while a named file was awaited.
int Interrupted() {
  WriteLine(stderr, "tideload-cli: update interrupted");
  return ExitStatus(Outcome::kCancelled);
}

bool ParseJobs(const char* text, std::size_t* jobs) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '1' || *text > '9' || *end != '\0' || errno != 0 || value > kMostJobs) return false;
  *jobs = value;
  return true;
}

// A password option other than the file: refused before anything else.
bool GivesPassword(const char* arg) {
  if (std::strncmp(arg, "--pass", 6) != 0) return false;
  const std::size_t n = std::strlen(kPasswordFileOption);
  return !(std::strncmp(arg, kPasswordFileOption, n) == 0 && (arg[n] == '\0' || arg[n] == '='));
}

}  // namespace

const CommandTable kUpdateCommand = {
    "update",
    "ADDRESS... FILE",
    1,
    static_cast<std::size_t>(-1),
    "put the file's application into the modules at ADDRESS... (a.b.c.d)",
    {{"--reboot", nullptr, nullptr, "the modules reboot when complete"},
     {"--user", nullptr, "NAME", "the user name, when a module asks for one"},
     {kPasswordFileOption, nullptr, "PATH", "the password: the file's first line; - for stdin"},
     {"--from", nullptr, "FILE.json", "also every device in find --json output"},
     {"--jobs", nullptr, "N", "at most N updates at the same time (8; 1 to 256)"},
     {"--dry-run", nullptr, nullptr, "only compare the module's platform with the file's"},
     {"--verify", nullptr, "[SECONDS]", "with --reboot: wait until each module answers again (60)", true},
     {"--json", nullptr, nullptr, "one JSON object per module on stdout"}},
    "  FILE is the S-record application file (*_APP.s19). The password comes from\n"
    "  --password-file, TIDELOAD_PASSWORD or, for one module on a terminal, from a\n"
    "  prompt that does not echo; never from the command line. A device of --from\n"
    "  is updated once, through its first consistent interface. Several modules:\n"
    "  each result as it ends, then a summary; the exit status is that of the\n"
    "  first module, in the order given, that did not succeed. The file is loaded\n"
    "  once, before any module is contacted. --verify searches each module before\n"
    "  the update and, after its reboot, until it is back (at most SECONDS, 1 to\n"
    "  3600): an answer counts from the module's own address and port, naming the\n"
    "  MAC it had, once it was silent or runs another application. One that does\n"
    "  not come back is timed-out; one that cannot be searched, or did not answer\n"
    "  before, is failed.\n",
};

int RunUpdate(int argc, char** argv) {
  for (int i = 0; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], kPasswordFileOption) == 0) {
      ++i;  // its value is a path
    } else if (GivesPassword(argv[i])) {
      std::fputs("tideload-cli: the password is never taken from the command line; "
                 "use --password-file, set TIDELOAD_PASSWORD or answer the prompt\n",
                 stderr);
      return ExitStatus(Outcome::kUsage);
    }
  }
  GivenOptions given;
  if (std::optional<int> status = ParseCommandLine(kUpdateCommand, argc, argv, given)) return *status;
  const std::vector<const char*>& operands = given.Operands();
  const char* from = given.Value("--from");
  if (operands.size() < 2 && from == nullptr) return UsageError(kUpdateCommand, "needs ADDRESS... FILE");

  BatchSettings settings;
  settings.file = operands.back();
  settings.reboot = given.Has("--reboot") ? 1 : 0;
  settings.dryRun = given.Has("--dry-run");
  settings.json = given.Has("--json");
  settings.userName = given.Has("--user") ? given.Value("--user") : "";
  if (const char* jobs = given.Value("--jobs"); jobs != nullptr && !ParseJobs(jobs, &settings.jobs)) {
    return UsageError(kUpdateCommand, std::string("bad --jobs '") + jobs + "' (1 to " +
                                          std::to_string(kMostJobs) + ")");
  }

  if (given.Has("--verify")) {
    const char* text = given.Value("--verify");
    unsigned long seconds = 60;
    if (*text != '\0') seconds = std::strtoul(text, nullptr, 10);
    if (seconds < 1 || seconds > kMostVerifySeconds || std::strlen(text) > 4) {
      return UsageError(kUpdateCommand, std::string("bad --verify '") + text + "' (1 to " +
                                            std::to_string(kMostVerifySeconds) + " seconds)");
    }
    if (settings.reboot == 0 || settings.dryRun) {
      return UsageError(kUpdateCommand, "--verify needs --reboot, and no --dry-run");
    }
    settings.verifySeconds = static_cast<double>(seconds);
  }

  std::vector<UpdateTarget> targets;
  for (std::size_t i = 0; i + 1 < operands.size(); ++i) {
    UpdateTarget target;
    if (!ParseAddress(operands[i], &target.address) || target.address == 0) {
      WriteLine(stderr, std::string("tideload-cli: '") + operands[i] + "' is not a module address");
      return ExitStatus(Outcome::kUsage);
    }
    targets.push_back(target);
  }
  if (from != nullptr) {
    std::string text;
    std::string error;
    const InputRead read = ReadInput(from, kJsonMostBytes, false, text, &error);
    if (read == InputRead::kInterrupted) return Interrupted();
    std::optional<std::vector<UpdateTarget>> devices;
    if (read == InputRead::kRead) devices = FindOutputTargets(text, &error);
    if (!devices) {
      WriteLine(stderr, std::string("tideload-cli: --from '") + from + "': " + error);
      return ExitStatus(Outcome::kUsage);
    }
    targets.insert(targets.end(), devices->begin(), devices->end());
  }
  // Each module once, where it was first named.
  std::set<std::uint32_t> named;
  std::vector<UpdateTarget> once;
  for (const UpdateTarget& target : targets) {
    if (named.insert(target.address).second) {
      once.push_back(target);
    } else {
      WriteLine(stderr, "tideload-cli: " + DottedAddress(target.address) + " named twice: updated once");
    }
  }
  if (once.empty()) return UsageError(kUpdateCommand, std::string("no module in '") + from + "'");

  if (const char* path = given.Value(kPasswordFileOption)) {
    std::string error;
    settings.password.emplace();
    const InputRead read = ReadPassword(path, *settings.password, &error);
    if (read == InputRead::kInterrupted) return Interrupted();
    if (read == InputRead::kFailed) {
      WriteLine(stderr, "tideload-cli: " + error);
      return ExitStatus(Outcome::kUsage);
    }
  } else if (const char* fromEnvironment = std::getenv("TIDELOAD_PASSWORD")) {
    settings.password = fromEnvironment;
  }

  ConsoleHost host("tideload-cli");
  host.network.Startup(1, 1, nullptr, nullptr);
  const int status = RunUpdates(host, once, settings);
  if (settings.password) WipeSecret(*settings.password);
  return status;
}

}  // namespace tl::cli
