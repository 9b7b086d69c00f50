#include "app/main_dialog.h"
#include "platform/core/platform.h"
#include "update/update_dialog.h"

namespace tl {

void MainDialog::HandOverToUpdate(std::uint32_t address) {
  int result = kResultCancel;
  {
    // Made for this one update; gone (connection closed, image freed)
    // before the result is reported.
    UpdateDialog update(fileName, address, rebootWhenComplete, this);
    result = update.DoModal();
  }
  if (result == kResultOk) {
    if (unattended != 1) ShowMessage("Programming Complete without Error.");
    Dialog::OnOK();
    return;
  }
  ShowMessage("Update Failed");
}

}  // namespace tl
