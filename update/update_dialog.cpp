#include "update/update_dialog.h"

#include "platform/core/layout.h"
#include "platform/core/platform.h"
#include "update/credentials_dialog.h"
#include "update/module_lines.h"

namespace tl {

UpdateDialog::UpdateDialog(std::string fileNameIn, std::uint32_t moduleAddressIn,
                           int rebootWhenCompleteIn, Dialog* parent)
    : Dialog(kDialogUpdate, parent),
      fileName(std::move(fileNameIn)),
      moduleAddress(moduleAddressIn),
      rebootWhenComplete(rebootWhenCompleteIn) {}

UpdateDialog::~UpdateDialog() = default;

bool UpdateDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  if (DialogWindow* w = Window()) {
    timerId = w->SetTimer(kIdleTimer, UpdateSession::kIdlePeriodMs);
    w->SetProgressRange(kIdProgress, 0, line::kMostPercent);
    w->SetProgressPos(kIdProgress, 0);
  }
  std::optional<LoadedImage> loaded = LoadSRecordImage(fileName);
  if (!loaded) {
    OnCancel();
    return true;
  }
  image_ = ShareImage(std::move(*loaded), platformName);
  UpdateSession::Choices choices;
  choices.rebootWhenComplete = rebootWhenComplete;
  UpdateObserver& observer = *this;
  session_ = std::make_unique<UpdateSession>(CurrentHost().network, image_, moduleAddress, choices, observer);
  session_->Start();
  return true;  // focus on the first tab stop, Cancel
}

void UpdateDialog::OnCancel() {
  if (session_ != nullptr) {
    session_->Cancel();  // ends through OnEnding
    return;
  }
  StopTimer();
  EndDialog(kResultCancel);
}

void UpdateDialog::OnTimer(unsigned) {
  if (session_ != nullptr) session_->OnTimer();
}

void UpdateDialog::OnProgress(int percent) {
  if (DialogWindow* w = Window()) w->SetProgressPos(kIdProgress, percent);
}

void UpdateDialog::OnMessage(const std::string& text) { ShowMessage(text); }

void UpdateDialog::OnCredentialsWanted() {
  CredentialsDialog prompt;
  if (prompt.DoModal() == kResultOk) {
    session_->AnswerCredentials(prompt.userName, prompt.password);
  } else {
    session_->CancelCredentials();
  }
}

void UpdateDialog::OnEnding(UpdateEnding ending) {
  if (ending == UpdateEnding::kCompleted) {
    Dialog::OnOK();  // the timer goes with the window
    return;
  }
  StopTimer();
  EndDialog(kResultCancel);
}

void UpdateDialog::StopTimer() {
  if (DialogWindow* w = Window()) w->KillTimer(timerId);
}

}  // namespace tl
