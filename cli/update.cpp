#include <cstdio>

#include "cli/commands.h"

namespace tl::cli {

int RunUpdate(int, char**) {
  std::fputs("tideload-cli: 'update' is not built yet\n", stderr);
  return 2;
}

}  // namespace tl::cli
