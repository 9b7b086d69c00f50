// The console host: the core dialogs without a window, for tideload-cli.
// Message boxes print their text on stderr, one line each, the code page
// decoded and, on a terminal, control characters escaped.
#pragma once

#include <memory>
#include <string>

#include "platform/headless/event_loop.h"
#include "platform/headless/headless_ui.h"

namespace tl {

class ConsoleHost {
 public:
  explicit ConsoleHost(std::string programTitle);
  ~ConsoleHost();
  ConsoleHost(const ConsoleHost&) = delete;
  ConsoleHost& operator=(const ConsoleHost&) = delete;

  EventLoop loop{EventLoop::Clock::Real};
  HeadlessUi ui;

 private:
  struct System;  // the system's sockets (ready on loop), files and registry
  std::unique_ptr<System> system_;

 public:
  Network& network;

 private:
  // Makes the host the current one, its message boxes lines on stderr.
  void Install(Registry& registry, FileSystem& files);

  Host previous_;
};

}  // namespace tl
