#include "platform/console/console_host.h"

#include <cstdio>

#include "platform/console/console_text.h"

namespace tl {

ConsoleHost::ConsoleHost(std::string programTitle)
    : ui(loop, std::move(programTitle)), registry(FileRegistry::DefaultFolder()) {
  previous_ = CurrentHost();
  ui.hooks().onMessageBox = [](HeadlessMessageBox& box) {
    WriteMessageLine(stderr, box.text);
    box.Close();
  };
  SetHost(Host{&ui, &network, &registry, &files});
}

ConsoleHost::~ConsoleHost() { SetHost(previous_); }

}  // namespace tl
