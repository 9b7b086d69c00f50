// The console host: the core dialogs without a window, for tideload-cli.
// Message boxes print their text on stderr, one line each, the code page
// decoded and, on a terminal, control characters escaped.
#pragma once

#include <memory>
#include <string>

#include "platform/headless/event_loop.h"
#include "platform/headless/headless_ui.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_network.h"

namespace tl {

class ConsoleHost {
 public:
  explicit ConsoleHost(std::string programTitle);
  ~ConsoleHost();

  EventLoop loop{EventLoop::Clock::Real};
  HeadlessUi ui;
  PosixNetwork network{loop};
  PosixFileSystem files;
  FileRegistry registry;

 private:
  Host previous_;
};


}  // namespace tl
