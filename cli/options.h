// The command lines of tideload-cli: each command's options declared once
// on a CLI11 app, which parses them, checks their values and makes the help
// and the usage errors.
#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tl::cli {

struct InspectOptions {
  bool json = false;
  std::optional<std::string> output;  // the image bytes go there too
  std::string file;
};

enum class FindSort { kAnswered, kAddress, kName };

struct FindOptions {
  bool json = false;
  double seconds = 1.0;
  std::vector<std::string> interfaces;
  std::vector<std::uint32_t> to;
  bool broadcast = false;
  FindSort sort = FindSort::kAnswered;
  std::optional<std::size_t> expect;
};

struct UpdateOptions {
  bool reboot = false;
  std::string user;
  std::optional<std::string> passwordFile;
  std::optional<std::string> from;
  std::size_t jobs = 8;
  bool dryRun = false;
  std::optional<double> verifySeconds;
  bool json = false;
  std::optional<std::string> expectApp;
  std::optional<std::string> waves;        // read once the modules are known
  std::optional<std::string> maxFailures;  // the same
  unsigned retries = 0;
  std::optional<std::string> resume;
  std::optional<std::string> log;
  std::vector<std::string> operands;  // ADDRESS... FILE
};

constexpr int kMostFindSeconds = 3600;
constexpr std::size_t kMostJobs = 256;
constexpr unsigned long kMostVerifySeconds = 3600;
constexpr std::size_t kMostRetries = 20;

// Each command's app, filling the options when it parses.
std::unique_ptr<CLI::App> InspectCommand(InspectOptions& options);
std::unique_ptr<CLI::App> FindCommand(FindOptions& options);
std::unique_ptr<CLI::App> UpdateCommand(UpdateOptions& options);

// Parses argv (the arguments after the command's name). Nothing when the
// command is to run; otherwise the exit status to end with at once: 0 after
// --help or --version (printed on stdout), 2 after a usage error (said on
// stderr). "--" ends the options; a --verify followed by a number takes it.
std::optional<int> ParseCommandLine(CLI::App& command, int argc, char** argv);

// The usage line, the summary, every option and the notes.
std::string CommandHelp(const CLI::App& command);
// A usage error: the reason, the usage line and where the help is; status 2.
int UsageError(const CLI::App& command, const std::string& reason);

extern const char kVersionText[];

}  // namespace tl::cli
