#include <cstdio>

#include "cli/commands.h"

namespace tl::cli {

int RunFind(int, char**) {
  std::fputs("tideload-cli: 'find' is not built yet\n", stderr);
  return 2;
}

}  // namespace tl::cli
