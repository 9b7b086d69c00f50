#include "platform/win32/command_text.h"

#include "platform/core/platform.h"

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
  return ProgramTitleOfPath(modulePath, "\\/:");
}

}  // namespace tl
