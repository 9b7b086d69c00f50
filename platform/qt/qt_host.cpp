#include "platform/qt/qt_host.h"

namespace tl {

QtHost::QtHost(std::string programTitle, std::string registryFolder)
    : ui(std::move(programTitle)), registry(std::move(registryFolder)), previous_(CurrentHost()) {
  Host host;
  host.ui = &ui;
  host.network = &network;
  host.registry = &registry;
  host.files = &files;
  SetHost(host);
}

QtHost::~QtHost() { SetHost(previous_); }

std::string ProgramTitleOf(std::string_view argv0) { return ProgramTitleOfPath(argv0, "/"); }

std::string ArgumentTextOf(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

}  // namespace tl
