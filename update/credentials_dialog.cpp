#include "update/credentials_dialog.h"

#include "platform/core/layout.h"
#include "platform/core/secret.h"

namespace tl {

CredentialsDialog::CredentialsDialog() : Dialog(kDialogCredentials, nullptr) {}

CredentialsDialog::~CredentialsDialog() {
  WipeSecret(userName);
  WipeSecret(password);
}

void CredentialsDialog::DoDataExchange(DataExchange& dx) {
  dx.Text(kIdUserName, userName);
  dx.Text(kIdPassword, password);
}

}  // namespace tl
