#include "platform/console/console_host.h"

#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_network.h"

namespace tl {

struct ConsoleHost::System {
  explicit System(EventLoop& loop) : network(loop), registry(FileRegistry::DefaultFolder()) {}

  PosixNetwork network;
  PosixFileSystem files;
  FileRegistry registry;
};

ConsoleHost::ConsoleHost(std::string programTitle)
    : ui(loop, std::move(programTitle)), system_(std::make_unique<System>(loop)), network(system_->network) {
  Install(system_->registry, system_->files);
}

ConsoleHost::~ConsoleHost() { SetHost(previous_); }

}  // namespace tl
