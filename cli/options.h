// The command line of one tideload-cli command: its options, as a table
// that both the parsing and the help are made from.
#pragma once

#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tl::cli {

struct OptionEntry {
  const char* name;       // "--user"
  const char* shortName;  // "-o", or nullptr
  const char* value;      // the value's name ("NAME"); nullptr for a flag
  const char* help;
  // The value may be left out: it is "=VALUE" or a next argument made of
  // digits only; without one the option is given with an empty value.
  bool optionalNumber = false;
};

struct CommandTable {
  const char* name;      // "update"
  const char* operands;  // "ADDRESS FILE", for the usage line
  std::size_t leastOperands;
  std::size_t mostOperands;
  const char* summary;  // what the command does, one line
  std::vector<OptionEntry> options;
  const char* notes;  // further lines of help, or nullptr
};

// What a command line gave: flags and values by long name, then operands.
class GivenOptions {
 public:
  bool Has(const std::string& name) const { return given_.count(name) != 0; }
  // The value given last, or nullptr.
  const char* Value(const std::string& name) const;
  // Every value given, in order (a repeatable option).
  std::vector<const char*> Values(const std::string& name) const;
  const std::vector<const char*>& Operands() const { return operands_; }

 private:
  friend std::optional<int> ParseCommandLine(const CommandTable&, int, char**, GivenOptions&);
  std::map<std::string, std::vector<const char*>> given_;
  std::vector<const char*> operands_;
};

// Parses argv (the arguments after the command's name). Nothing when the
// command is to run; otherwise the exit status to end with at once: 0 after
// --help or --version (printed on stdout), 2 after a usage error (said on
// stderr). "--" ends the options. --help ends with the exit statuses.
std::optional<int> ParseCommandLine(const CommandTable& command, int argc, char** argv,
                                    GivenOptions& given);

// "tideload-cli update [--reboot] [--user NAME] ADDRESS FILE"
std::string UsageLine(const CommandTable& command);
// The usage line, the summary, every option and the notes.
void PrintCommandHelp(const CommandTable& command, std::FILE* out);
// A usage error: the reason, the usage line and where the help is; status 2.
int UsageError(const CommandTable& command, const std::string& reason);

extern const char kVersionText[];

}  // namespace tl::cli
