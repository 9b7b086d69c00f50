#include "cli/options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "cli/exit_status.h"
#include "cli/targets.h"
#include "discovery/device_list.h"
#include "platform/console/console_text.h"

namespace tl::cli {

const char kVersionText[] = "Tideload Version 1.0";

namespace {

constexpr int kHelpColumn = 24;

bool Digits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A plain decimal number of seconds in range: no inf, nan or hex; -0 is 0.
bool ParseSeconds(const std::string& text, double* seconds) {
  if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value) || !(value >= 0 && value <= kMostFindSeconds)) return false;
  *seconds = value == 0 ? 0.0 : value;
  return true;
}

// Decimal digits only, low to high.
bool ParseCount(const std::string& text, std::size_t low, std::size_t high, std::size_t* count) {
  if (!Digits(text) || text.size() > 9) return false;
  *count = std::strtoul(text.c_str(), nullptr, 10);
  return *count >= low && *count <= high;
}

// The option's every value goes through convert; one it refuses is a usage
// error that says what the value should be.
CLI::Option* Converted(CLI::Option* option, const char* valueName, std::string should,
                       std::function<bool(const std::string&)> convert) {
  option->type_name(valueName);
  return option->check(CLI::Validator(
      [should = std::move(should), convert = std::move(convert)](std::string& value) {
        return convert(value) ? std::string() : "bad value '" + value + "' (" + should + ")";
      },
      "", ""));
}

// Every value of a repeatable option, one per occurrence.
CLI::Option* Repeatable(CLI::Option* option) {
  return option->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

std::string OptionLeft(const CLI::Option& option) {
  std::string left;
  for (const std::string& name : option.get_snames()) left += "-" + name + ", ";
  left += "--" + option.get_lnames().front();
  const std::string value = option.get_type_name();
  return value.empty() ? left : left + " " + value;
}

bool HelpOrVersion(const CLI::App& app, const CLI::Option* option) {
  return option == app.get_help_ptr() || option->check_lname("version");
}

std::string UsageLine(const CLI::App& app) {
  std::string line = "tideload-cli " + app.get_name();
  std::string operands;
  for (const CLI::Option* o : app.get_options()) {
    if (o->get_positional()) {
      operands += " " + o->get_type_name();
    } else if (!HelpOrVersion(app, o)) {
      line += " [--" + o->get_lnames().front() + (o->get_type_name().empty() ? "" : " " + o->get_type_name()) + "]";
    }
  }
  return line + operands;
}

// A command's app: its options are declared after this; help and version
// come last.
std::unique_ptr<CLI::App> NewCommand(const char* name, const char* summary, const char* notes) {
  auto app = std::make_unique<CLI::App>(summary, name);
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  // The same options everywhere: "/x" is an operand (a path) on Windows too.
  app->allow_windows_style_options(false);
  app->footer(notes);
  app->formatter(std::make_shared<CLI::FormatterLambda>(
      [](const CLI::App* command, std::string, CLI::AppFormatMode) { return CommandHelp(*command); }));
  return app;
}

std::unique_ptr<CLI::App> Finished(std::unique_ptr<CLI::App> app) {
  app->set_help_flag("-h,--help", "show this text");
  app->set_version_flag("--version", kVersionText, "show the version");
  return app;
}

CLI::Option* Flag(CLI::App& app, const char* name, bool& value, const char* help) {
  return app.add_flag(name, value, help)->disable_flag_override();
}

}  // namespace

std::unique_ptr<CLI::App> InspectCommand(InspectOptions& o) {
  auto app = NewCommand("inspect", "load an S-record application file and describe its image", "");
  Flag(*app, "--json", o.json, "one JSON object instead of text");
  app->add_option("-o,--output", o.output, "also write the image bytes to this file")->type_name("IMAGE.bin");
  app->add_option("FILE", o.file)->required()->type_name("FILE");
  return Finished(std::move(app));
}

std::unique_ptr<CLI::App> FindCommand(FindOptions& o) {
  auto app = NewCommand(
      "find", "search the network for modules and print what answered",
      "  One search: the request, then three heard lists 1.5 s apart, each sent to\n"
      "  255.255.255.255 out of every interface that is up and can broadcast (or\n"
      "  those named with --interface), so modules on every network card answer;\n"
      "  all replies make one tree. --to sends them to that address instead, through\n"
      "  the routing table (a module or a subnet behind a router); add --broadcast or\n"
      "  --interface to broadcast as well. It broadcasts: run it on the modules'\n"
      "  network or inside the test LAN. Interfaces beyond the list's bound (ten\n"
      "  thousand) are left out, and stderr says how many. JSON gives each reply's\n"
      "  arrival interface (\"interface\") and each device's addresses (\"addresses\").\n"
      "  It ends with 0 also when nothing answered (or fewer than --expect), with\n"
      "  connection-failed when the socket could not be opened or no request could be\n"
      "  sent (no route, say), and with usage for an --interface that is not up or\n"
      "  cannot broadcast.\n");
  Flag(*app, "--json", o.json, "a JSON array instead of the indented tree");
  Converted(app->add_option("--seconds", "listen S more seconds after the third heard list (1)"), "S",
            "a number, 0 to " + std::to_string(kMostFindSeconds),
            [&o](const std::string& v) { return ParseSeconds(v, &o.seconds); });
  Repeatable(app->add_option("--interface", o.interfaces,
                             "broadcast out of the interfaces named, no other (repeatable)"))
      ->type_name("NAME");
  Repeatable(Converted(app->add_option("--to", "search at this unicast or subnet broadcast address (repeatable)"),
                       "ADDRESS", "an IPv4 address", [&o](const std::string& v) {
                         std::uint32_t address = 0;
                         if (!ParseAddress(v.c_str(), &address) || address == 0) return false;
                         o.to.push_back(address);
                         return true;
                       }));
  Flag(*app, "--broadcast", o.broadcast, "with --to: broadcast on the interfaces as well");
  Converted(app->add_option("--sort", "order by 'address' or 'name' (default: as they answered)"), "KEY",
            "address or name", [&o](const std::string& v) {
              o.sort = v == "address" ? FindSort::kAddress : FindSort::kName;
              return v == "address" || v == "name";
            });
  Converted(app->add_option("--expect", "end as soon as N distinct interfaces have answered"), "N",
            "a count, 0 to " + std::to_string(DeviceList::kMostInterfaces), [&o](const std::string& v) {
              std::size_t n = 0;
              if (!ParseCount(v, 0, DeviceList::kMostInterfaces, &n)) return false;
              o.expect = n;
              return true;
            });
  return Finished(std::move(app));
}

std::unique_ptr<CLI::App> UpdateCommand(UpdateOptions& o) {
  auto app = NewCommand(
      "update", "put the file's application into the modules at ADDRESS... (a.b.c.d)",
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
      "  before, is failed.\n"
      "  Rollouts: --expect-app skips a module that runs TEXT already (skipped) and,\n"
      "  with --verify, fails one that comes back running anything else (wrong-app).\n"
      "  A device of --from is updated only while the interface MAC the file names\n"
      "  answers at its address (different-device otherwise; nothing is sent).\n"
      "  --waves 1,10%,100% updates the modules in waves of these cumulative sizes;\n"
      "  a wave starts once the one before has ended (and is back, with --verify).\n"
      "  Once more than --max-failures N (or P% of the modules) failed, no new\n"
      "  update starts and the rest are stopped. --retries N tries a lost\n"
      "  connection or a time-out again after 2, 4, 8 ... s (at most 60). --resume\n"
      "  skips what an earlier update --json output says was done with this image\n"
      "  (ok or skipped). --log appends one JSON line per module as it ends (not in\n"
      "  a dry run). --dry-run with these prints the plan first.\n");
  Flag(*app, "--reboot", o.reboot, "the modules reboot when complete");
  app->add_option("--user", o.user, "the user name, when a module asks for one")->type_name("NAME");
  app->add_option("--password-file", o.passwordFile, "the password: the file's first line; - for stdin")
      ->type_name("PATH");
  app->add_option("--from", o.from, "also every device in find --json output")->type_name("FILE.json");
  Converted(app->add_option("--jobs", "at most N updates at the same time (8; 1 to 256)"), "N",
            "1 to " + std::to_string(kMostJobs),
            [&o](const std::string& v) { return v[0] != '0' && ParseCount(v, 1, kMostJobs, &o.jobs); });
  Flag(*app, "--dry-run", o.dryRun, "only compare the module's platform with the file's");
  Converted(app->add_flag("--verify{60}")->description("with --reboot: wait until each module answers again (60)"),
            "[SECONDS]", "1 to " + std::to_string(kMostVerifySeconds) + " seconds", [&o](const std::string& v) {
              std::size_t seconds = 0;
              if (!ParseCount(v, 1, kMostVerifySeconds, &seconds) || v.size() > 4) return false;
              o.verifySeconds = static_cast<double>(seconds);
              return true;
            });
  Flag(*app, "--json", o.json, "one JSON object per module on stdout");
  app->add_option("--expect-app", o.expectApp, "the application the new image runs, as find prints it")
      ->type_name("TEXT");
  app->add_option("--waves", o.waves, "update in waves of these cumulative sizes (1,10%,100%)")->type_name("LIST");
  app->add_option("--max-failures", o.maxFailures, "no new update once more than N (or P%) failed")
      ->type_name("N|P%");
  Converted(app->add_option("--retries", "try a lost connection or a time-out again N times (0)"), "N",
            "0 to " + std::to_string(kMostRetries), [&o](const std::string& v) {
              std::size_t n = 0;
              if (!ParseCount(v, 0, kMostRetries, &n)) return false;
              o.retries = static_cast<unsigned>(n);
              return true;
            });
  app->add_option("--resume", o.resume, "skip what an earlier update --json output did")
      ->type_name("RESULTS.jsonl");
  app->add_option("--log", o.log, "append one JSON line per module as it ends")->type_name("FILE");
  app->add_option("operands", o.operands)->type_name("ADDRESS... FILE");
  return Finished(std::move(app));
}

std::optional<int> ParseCommandLine(CLI::App& command, int argc, char** argv) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> args(argv, argv + argc);
  for (std::size_t i = 0; i + 1 < args.size() && args[i] != "--"; ++i) {
    if (args[i] == "--verify" && Digits(args[i + 1])) {
      args[i] += "=" + args[i + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
  }
  std::reverse(args.begin(), args.end());
  try {
    command.parse(args);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    std::fputs(command.help().c_str(), stdout);
    PrintExitStatuses(stdout);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::puts(e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    return UsageError(command, e.what());
  }
}

std::string CommandHelp(const CLI::App& command) {
  std::string text = "Usage: " + UsageLine(command) + "\n  " + command.get_description() + "\n";
  for (const CLI::Option* o : command.get_options()) {
    if (o->get_positional()) continue;
    std::string left = OptionLeft(*o);
    left.resize(std::max<std::size_t>(left.size(), kHelpColumn), ' ');
    text += "  " + left + " " + o->get_description() + "\n";
  }
  return text + command.get_footer();
}

int UsageError(const CLI::App& command, const std::string& reason) {
  WriteLine(stderr, "tideload-cli " + command.get_name() + ": " + reason);
  std::fprintf(stderr, "Usage: %s\nTry 'tideload-cli %s --help'.\n", UsageLine(command).c_str(),
               command.get_name().c_str());
  return ExitStatus(Outcome::kUsage);
}

}  // namespace tl::cli
