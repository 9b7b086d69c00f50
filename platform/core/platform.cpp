#include "platform/core/platform.h"

namespace tl {

namespace {
Host g_host;
}

Host& CurrentHost() { return g_host; }
void SetHost(const Host& host) { g_host = host; }

void ShowMessage(std::string_view text) {
  if (g_host.ui != nullptr) g_host.ui->ShowMessageBox(text);
}

}  // namespace tl
