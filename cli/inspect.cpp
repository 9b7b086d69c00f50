#include <cstdio>

#include "cli/commands.h"

namespace tl::cli {

int RunInspect(int, char**) {
  std::fputs("tideload-cli: 'inspect' is not built yet\n", stderr);
  return 2;
}

}  // namespace tl::cli
