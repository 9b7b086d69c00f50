#pragma once

#include "platform/core/dialog.h"
#include "platform/core/layout.h"

namespace tl {

class AboutDialog : public Dialog {
 public:
  explicit AboutDialog(Dialog* parent) : Dialog(kDialogAbout, parent) {}
};

}  // namespace tl
