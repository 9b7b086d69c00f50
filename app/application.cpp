#include "app/application.h"

#include "app/main_dialog.h"
#include "platform/core/platform.h"

namespace tl {

int RunApplication(std::string_view argumentText) {
  int exitStatus = 0;
  Network* network = CurrentHost().network;
  int major = 0;
  int minor = 0;
  if (network == nullptr || !network->Startup(1, 1, &major, &minor) || major != 1 || minor != 1) {
    ShowMessage("Windows sockets initialization failed.");
    return exitStatus;
  }
  MainDialog dialog(argumentText);
  int result = dialog.DoModal();
  if (result == kResultOk) exitStatus = 0;
  if (result == kResultCancel) exitStatus = -1;
  return exitStatus;
}

}  // namespace tl
