// The desktop host: Qt dialogs, sockets on the Qt loop, the registry file,
// plain file reading. Installs itself for its lifetime. Needs a QApplication.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/platform.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_network.h"
#include "platform/qt/qt_reactor.h"
#include "platform/qt/qt_ui.h"

namespace tl {

class QtHost {
 public:
  QtHost(std::string programTitle, std::string registryFolder);
  ~QtHost();
  QtHost(const QtHost&) = delete;
  QtHost& operator=(const QtHost&) = delete;

  QtUi ui;
  QtReactor reactor;
  PosixNetwork network{reactor};
  FileRegistry registry;
  PosixFileSystem files;

 private:
  Host previous_;
};

// The executable's file name without its extension.
std::string ProgramTitleOf(std::string_view argv0);
// The arguments after the program's name, joined by single spaces.
std::string ArgumentTextOf(int argc, const char* const* argv);

}  // namespace tl
