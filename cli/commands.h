// The subcommands of tideload-cli; each takes the arguments after its name.
#pragma once

#include "cli/options.h"

namespace tl::cli {

extern const CommandSpec kInspectCommand;
extern const CommandSpec kUpdateCommand;
extern const CommandSpec kFindCommand;

int RunInspect(int argc, char** argv);
int RunUpdate(int argc, char** argv);
int RunFind(int argc, char** argv);

}  // namespace tl::cli
