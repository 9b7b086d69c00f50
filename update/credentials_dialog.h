// "Password needed": asks for a user name and a password (layout 131).
#pragma once

#include <string>

#include "platform/core/dialog.h"

namespace tl {

class CredentialsDialog : public Dialog {
 public:
  // No parent: the active window owns it while it is shown.
  CredentialsDialog();
  ~CredentialsDialog() override;

  std::string userName;
  std::string password;

  void DoDataExchange(DataExchange& dx) override;
};

}  // namespace tl
