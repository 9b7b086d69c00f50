#include <cstdint>

#include "app/main_dialog.h"
#include "discovery/find_dialog.h"
#include "platform/core/platform.h"
#include "settings/settings.h"

namespace tl {

void MainDialog::OnFind() {
  // Keep what the user typed in the other boxes; a bad box has said so.
  const bool takenIn = UpdateData(true);
  std::uint32_t chosen = 0;
  {
    // Gone (socket closed, records released) before anything else is shown.
    FindDialog find(this);
    if (find.DoModal() == kResultOk) chosen = find.selectedAddress;
  }
  if (chosen == 0) {
    ShowMessage("IP not set");
    return;
  }
  SaveIpAddress(chosen);
  SetAddress(chosen);
  if (!takenIn && Window() != nullptr) {
    // The taking in stopped at a bad octet before these two: take them as
    // they stand so that the filling does not overwrite the user's entries.
    fileName = Window()->GetText(kIdFileName);
    rebootWhenComplete = Window()->GetCheck(kIdReboot) ? 1 : 0;
  }
  UpdateData(false);
}

}  // namespace tl
