#include "app/main_dialog.h"

namespace tl {

// The update arrives with the update dialog; until then "Update" stops
// after the address has been stored.
void MainDialog::HandOverToUpdate(std::uint32_t) {}

}  // namespace tl
