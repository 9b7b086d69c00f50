#include "update/credentials_dialog.h"

#include "platform/core/layout.h"

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

void WipeSecret(std::string& secret) {
  volatile char* p = secret.data();
  for (std::size_t i = 0; i < secret.size(); ++i) p[i] = '\0';
  secret.clear();
}

}  // namespace tl
