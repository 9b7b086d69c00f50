#include "app/main_dialog.h"

namespace tl {

// "Find..." arrives with the device selection dialog.
void MainDialog::OnFind() {}

}  // namespace tl
