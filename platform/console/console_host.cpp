#include "platform/console/console_host.h"

#include <cstdio>

#include "platform/console/console_text.h"

namespace tl {

void ConsoleHost::Install(Registry& registry, FileSystem& files) {
  previous_ = CurrentHost();
  ui.hooks().onMessageBox = [](HeadlessMessageBox& box) {
    WriteMessageLine(stderr, box.text);
    box.Close();
  };
  SetHost(Host{&ui, &network, &registry, &files});
}

}  // namespace tl
