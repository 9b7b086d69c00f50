#include "platform/console/console_host.h"

#include "platform/console/win32/winsock2_network.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"

namespace tl {

struct ConsoleHost::System {
  explicit System(EventLoop& loop) : network(loop) {}

  Winsock2Network network;
  Win32FileSystem files{Win32FileSystem::Paths::kUtf8};
  Win32Registry registry;
};

ConsoleHost::ConsoleHost(std::string programTitle)
    : ui(loop, std::move(programTitle)), system_(std::make_unique<System>(loop)), network(system_->network) {
  Install(system_->registry, system_->files);
}

ConsoleHost::~ConsoleHost() { SetHost(previous_); }

}  // namespace tl
