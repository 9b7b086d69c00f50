#include "platform/console/console_system.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tl {

ConsoleArguments::ConsoleArguments(int argc, char** argv) : texts_(argv, argv + argc) {
  for (std::string& text : texts_) pointers_.push_back(text.data());
  pointers_.push_back(nullptr);
}

std::optional<std::string> EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return value;
}

int LastSystemError() { return errno; }

std::string SystemErrorText(int code) { return std::strerror(code); }

}  // namespace tl
