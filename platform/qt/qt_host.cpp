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

std::string ProgramTitleOf(std::string_view argv0) {
  std::size_t slash = argv0.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name);
}

std::string ArgumentTextOf(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

}  // namespace tl
