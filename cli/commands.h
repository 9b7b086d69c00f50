// The subcommands of tideload-cli; each takes the arguments after its name.
#pragma once

#include "cli/options.h"

namespace tl::cli {

extern const CommandTable kInspectCommand;
extern const CommandTable kUpdateCommand;
extern const CommandTable kFindCommand;

int RunInspect(int argc, char** argv);
int RunUpdate(int argc, char** argv);
int RunFind(int argc, char** argv);

}  // namespace tl::cli
