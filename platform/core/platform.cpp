#include "platform/core/platform.h"

namespace tl {

namespace {
Host g_host;
}

Host& CurrentHost() { return g_host; }
void SetHost(const Host& host) { g_host = host; }

std::string ProgramTitleOfPath(std::string_view path, std::string_view separators) {
  const std::size_t slash = path.find_last_of(separators);
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name);
}

void ShowMessage(std::string_view text) {
  if (g_host.ui != nullptr) g_host.ui->ShowMessageBox(text);
}

}  // namespace tl
