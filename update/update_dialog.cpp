#include "update/update_dialog.h"

#include <algorithm>

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

// The socket goes first: it closes the connection; then the image.
UpdateDialog::~UpdateDialog() { socket.reset(); }

bool UpdateDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  idleTicks = 0;
  if (DialogWindow* w = Window()) {
    timerId = w->SetTimer(kIdleTimer, kIdlePeriodMs);
    w->SetProgressRange(kIdProgress, 0, line::kMostPercent);
    w->SetProgressPos(kIdProgress, 0);
  }
  std::optional<LoadedImage> image = LoadSRecordImage(fileName);
  if (!image) {
    OnCancel();
    return true;
  }
  imageData = std::move(image->imageData);
  startAddress = image->startAddress;
  imageLength = image->imageLength;
  socket = std::make_unique<UpdateSocket>(*this, moduleAddress);
  return true;  // focus on the first tab stop, Cancel
}

void UpdateDialog::OnCancel() {
  if (completed) {
    ending_ = true;
    Dialog::OnOK();
    return;
  }
  StopTimer();
  EndCancelled();
}

void UpdateDialog::OnTimer(unsigned) {
  ++idleTicks;
  if (idleTicks >= kIdleLimit) HandleModuleMessage(line::kTimedOut, line::kTimedOutLine);
}

void UpdateDialog::HandleModuleMessage(int code, const std::string& text) {
  idleTicks = 0;
  if (line::IsProgress(code)) {
    SetProgress(std::min(code - line::kProgressBase, line::kMostPercent));
    return;
  }
  if (code == line::kPlatform) {
    modulePlatform.clear();
    std::size_t colon = text.find(':');
    if (colon != std::string::npos && colon + 1 < text.size()) {
      std::size_t end = text.find(':', colon + 1);
      modulePlatform = text.substr(colon + 1, end == std::string::npos ? std::string::npos
                                                                      : end - colon - 1);
    }
    return;
  }
  if (code == line::kCredentials) {
    AnswerCredentials();
    return;
  }
  if (line::IsError(code)) {
    std::string message = "Error:";
    if (text.size() > 3) message += text.substr(3);
    ShowUpdateMessage(message);
    StopTimer();
    EndCancelled();
    return;
  }
  if (code == line::kPlacement) {
    AnswerPlacement();
    return;
  }
  if (code == line::kImage) {
    SendImage();
    return;
  }
  if (code == line::kReboot) {
    const char choice = rebootWhenComplete != 0 ? 'R' : 'D';
    Send(&choice, 1);
    return;
  }
  if (code == line::kDone || code == line::kDoneToo) {
    completed = true;
    OnCancel();
  }
}

void UpdateDialog::AnswerCredentials() {
  // One prompt at a time, and none once the update has ended.
  if (ending_ || promptOpen_) return;
  CredentialsDialog prompt;
  promptOpen_ = true;
  const int answer = prompt.DoModal();
  promptOpen_ = false;
  if (answer != kResultOk) {
    OnCancel();
    return;
  }
  static const char kZero = '\0';
  static const char kLineEnd[2] = {'\r', '\n'};
  Send(prompt.userName.data(), prompt.userName.size());
  Send(&kZero, 1);
  Send(prompt.password.data(), prompt.password.size());
  Send(kLineEnd, 2);
}

bool UpdateDialog::PlatformsAgree(std::string& modulePlatform, const std::string& filePlatform) {
  if (modulePlatform == "RT40-512" && filePlatform == "RT40") modulePlatform = "RT40";
  return modulePlatform == filePlatform;
}

void UpdateDialog::AnswerPlacement() {
  if (!modulePlatform.empty() && !PlatformsAgree(modulePlatform, platformName)) {
    SendWord(0);
    SendWord(0);
    return;
  }
  SendWord(startAddress);
  SendWord(imageLength);
}

void UpdateDialog::SendImage() {
  // A module that asks again while the image is still queued gets nothing
  // more: queued image bytes never exceed one image.
  if (socket != nullptr && socket->BytesSent() < imageEnd_) return;
  const long taken = Send(imageData.get(), imageLength);
  if (socket != nullptr) imageEnd_ = socket->BytesTaken();
  if (taken != static_cast<long>(imageLength)) ShowUpdateMessage("Send Error");
}

void UpdateDialog::SendWord(std::uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
      static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  Send(bytes, sizeof bytes);
}

long UpdateDialog::Send(const void* data, std::size_t length) {
  if (socket == nullptr) return -1;
  if (length == 0) return 0;
  return socket->Write(data, length);
}

void UpdateDialog::SetProgress(int position) {
  if (DialogWindow* w = Window()) w->SetProgressPos(kIdProgress, position);
}

void UpdateDialog::ShowUpdateMessage(const std::string& text) {
  if (ending_ || boxOpen_) return;
  boxOpen_ = true;
  ShowMessage(text);
  boxOpen_ = false;
}

void UpdateDialog::StopTimer() {
  if (DialogWindow* w = Window()) w->KillTimer(timerId);
}

void UpdateDialog::EndCancelled() {
  ending_ = true;
  EndDialog(kResultCancel);
}

}  // namespace tl
