// The subcommands of tideload-cli; each takes the arguments after its name.
#pragma once

namespace tl::cli {

int RunInspect(int argc, char** argv);
int RunUpdate(int argc, char** argv);
int RunFind(int argc, char** argv);

}  // namespace tl::cli
