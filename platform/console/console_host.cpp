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

std::string ProgramTitleFrom(const char* argv0) {
  std::string name = argv0 ? argv0 : "";
  std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name.empty() ? std::string("tideload") : name;
}

}  // namespace tl
