#include "cli/options.h"

#include <cstring>

#include "cli/exit_status.h"
#include "platform/console/console_text.h"

namespace tl::cli {

const char kVersionText[] = "Tideload Version 1.0";

namespace {

const OptionEntry* FindOption(const CommandTable& command, const std::string& name) {
  for (const OptionEntry& o : command.options) {
    if (name == o.name || (o.shortName != nullptr && name == o.shortName)) return &o;
  }
  return nullptr;
}

}  // namespace

const char* GivenOptions::Value(const std::string& name) const {
  auto it = given_.find(name);
  return it == given_.end() ? nullptr : it->second.back();
}

std::vector<const char*> GivenOptions::Values(const std::string& name) const {
  auto it = given_.find(name);
  return it == given_.end() ? std::vector<const char*>{} : it->second;
}

std::string UsageLine(const CommandTable& command) {
  std::string line = std::string("tideload-cli ") + command.name;
  for (const OptionEntry& o : command.options) {
    line += std::string(" [") + o.name + (o.value ? std::string(" ") + o.value : "") + "]";
  }
  if (*command.operands != '\0') line += std::string(" ") + command.operands;
  return line;
}

void PrintCommandHelp(const CommandTable& command, std::FILE* out) {
  std::fprintf(out, "Usage: %s\n  %s\n", UsageLine(command).c_str(), command.summary);
  for (const OptionEntry& o : command.options) {
    std::string left = o.name;
    if (o.shortName != nullptr) left = std::string(o.shortName) + ", " + left;
    if (o.value != nullptr) left += std::string(" ") + o.value;
    std::fprintf(out, "  %-24s %s\n", left.c_str(), o.help);
  }
  std::fprintf(out, "  %-24s %s\n  %-24s %s\n", "-h, --help", "show this text", "--version",
               "show the version");
  if (command.notes != nullptr) std::fputs(command.notes, out);
}

int UsageError(const CommandTable& command, const std::string& reason) {
  WriteLine(stderr, std::string("tideload-cli ") + command.name + ": " + reason);
  std::fprintf(stderr, "Usage: %s\nTry 'tideload-cli %s --help'.\n", UsageLine(command).c_str(),
               command.name);
  return ExitStatus(Outcome::kUsage);
}

std::optional<int> ParseCommandLine(const CommandTable& command, int argc, char** argv,
                                    GivenOptions& given) {
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      given.operands_.push_back(argv[i]);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      PrintCommandHelp(command, stdout);
      PrintExitStatuses(stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts(kVersionText);
      return 0;
    }
    // "--name=value" or "--name" [value].
    const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    const OptionEntry* option = FindOption(command, name);
    if (option == nullptr) return UsageError(command, "unknown option '" + name + "'");
    if (option->value == nullptr) {
      if (equals != std::string::npos) {
        return UsageError(command, std::string("option '") + option->name + "' takes no value");
      }
      given.given_[option->name].push_back("");
      continue;
    }
    if (equals != std::string::npos) {
      given.given_[option->name].push_back(argv[i] + equals + 1);
    } else if (option->optionalNumber) {
      const bool number = i + 1 < argc && argv[i + 1][0] != '\0' &&
                          std::strspn(argv[i + 1], "0123456789") == std::strlen(argv[i + 1]);
      given.given_[option->name].push_back(number ? argv[++i] : "");
    } else if (i + 1 < argc) {
      given.given_[option->name].push_back(argv[++i]);
    } else {
      return UsageError(command, std::string("option '") + option->name + "' needs a value");
    }
  }
  const std::size_t operands = given.operands_.size();
  if (operands < command.leastOperands) {
    return UsageError(command, std::string("needs ") + command.operands);
  }
  if (operands > command.mostOperands) {
    return UsageError(command, std::string("unexpected '") + given.operands_[command.mostOperands] + "'");
  }
  return std::nullopt;
}

}  // namespace tl::cli
