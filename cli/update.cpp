// tideload-cli update [OPTIONS] ADDRESS... FILE
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/json_reader.h"
#include "cli/options.h"
#include "cli/targets.h"
#include "cli/update_batch.h"
#include "discovery/device_record.h"
#include "platform/console/console_files.h"
#include "platform/console/console_host.h"
#include "platform/console/console_system.h"
#include "platform/console/console_text.h"
#include "platform/core/secret.h"

namespace tl::cli {

namespace {

constexpr std::size_t kMostPasswordBytes = 4096;
const char kPasswordFileOption[] = "--password-file";

// The first line of the file (or of stdin for "-"), without its line end.
InputRead ReadPassword(const char* path, std::string& password, std::string* error) {
  if (std::strcmp(path, "-") == 0 && IsTerminal(stdin)) {
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

// A password option other than the file: refused before anything else.
bool GivesPassword(const char* arg) {
  if (std::strncmp(arg, "--pass", 6) != 0) return false;
  const std::size_t n = std::strlen(kPasswordFileOption);
  return !(std::strncmp(arg, kPasswordFileOption, n) == 0 && (arg[n] == '\0' || arg[n] == '='));
}

}  // namespace

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
  UpdateOptions options;
  const std::unique_ptr<CLI::App> command = UpdateCommand(options);
  if (std::optional<int> status = ParseCommandLine(*command, argc, argv)) return *status;
  const std::vector<std::string>& operands = options.operands;
  if (operands.empty() || (operands.size() < 2 && !options.from)) {
    return UsageError(*command, "needs ADDRESS... FILE");
  }
  if (options.verifySeconds && (!options.reboot || options.dryRun)) {
    return UsageError(*command, "--verify needs --reboot, and no --dry-run");
  }

  BatchSettings settings;
  settings.expectApp = options.expectApp;
  settings.retries = options.retries;
  settings.file = operands.back();
  settings.reboot = options.reboot ? 1 : 0;
  settings.dryRun = options.dryRun;
  settings.json = options.json;
  settings.userName = options.user;
  settings.jobs = options.jobs;
  settings.verifySeconds = options.verifySeconds;

  std::vector<UpdateTarget> targets;
  for (std::size_t i = 0; i + 1 < operands.size(); ++i) {
    UpdateTarget target;
    if (!ParseAddress(operands[i].c_str(), &target.address) || target.address == 0) {
      WriteLine(stderr, "tideload-cli: '" + operands[i] + "' is not a module address");
      return ExitStatus(Outcome::kUsage);
    }
    targets.push_back(target);
  }
  if (const char* from = options.from ? options.from->c_str() : nullptr) {
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
  if (once.empty()) return UsageError(*command, "no module in '" + options.from.value_or("") + "'");

  std::string why;
  if (options.waves) {
    std::optional<std::vector<std::size_t>> ends = WaveEnds(*options.waves, once.size(), &why);
    if (!ends) return UsageError(*command, "--waves: " + why);
    settings.waveEnds = std::move(*ends);
  }
  if (options.maxFailures) {
    settings.failureBudget = FailureBudget(*options.maxFailures, once.size(), &why);
    if (!settings.failureBudget) return UsageError(*command, "--max-failures: " + why);
  }
  if (options.resume) {
    std::string text;
    const InputRead read = ReadInput(options.resume->c_str(), kJsonMostBytes, false, text, &why);
    if (read == InputRead::kInterrupted) return Interrupted();
    if (read == InputRead::kRead) settings.earlier = EarlierResults(text, &why);
    if (!settings.earlier) {
      WriteLine(stderr, "tideload-cli: --resume '" + *options.resume + "': " + why);
      return ExitStatus(Outcome::kUsage);
    }
  }
  std::unique_ptr<AppendLog> log;
  if (options.log && !options.dryRun) {
    log = AppendLog::Open(*options.log, &why);
    if (log == nullptr) {
      WriteLine(stderr, "tideload-cli: --log '" + *options.log + "': " + why);
      return ExitStatus(Outcome::kUsage);
    }
    settings.log = log.get();
  }

  if (const char* path = options.passwordFile ? options.passwordFile->c_str() : nullptr) {
    std::string error;
    settings.password.emplace();
    const InputRead read = ReadPassword(path, *settings.password, &error);
    if (read == InputRead::kInterrupted) return Interrupted();
    if (read == InputRead::kFailed) {
      WriteLine(stderr, "tideload-cli: " + error);
      return ExitStatus(Outcome::kUsage);
    }
  } else {
    settings.password = EnvironmentText("TIDELOAD_PASSWORD");
  }

  ConsoleHost host("tideload-cli");
  host.network.Startup(1, 1, nullptr, nullptr);
  const int status = RunUpdates(host, once, settings);
  if (settings.password) WipeSecret(*settings.password);
  return status;
}

}  // namespace tl::cli
