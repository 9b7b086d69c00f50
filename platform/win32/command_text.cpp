#include "platform/win32/command_text.h"

namespace tl {

std::string ArgumentTextOfCommandLine(std::string_view commandLine) {
  std::size_t p = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    std::size_t close = commandLine.find('"', 1);
    p = close == std::string_view::npos ? commandLine.size() : close + 1;
  } else {
    while (p < commandLine.size() && commandLine[p] != ' ' && commandLine[p] != '\t') ++p;
  }
  while (p < commandLine.size() && (commandLine[p] == ' ' || commandLine[p] == '\t')) ++p;
  return std::string(commandLine.substr(p));
}

std::string ProgramTitleOfModule(std::string_view modulePath) {
  std::size_t slash = modulePath.find_last_of("\\/:");
  std::string_view name = slash == std::string_view::npos ? modulePath : modulePath.substr(slash + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name);
}

}  // namespace tl
