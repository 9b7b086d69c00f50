#include "update/update_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "update/module_lines.h"

namespace tl {

namespace {

// The text between the first and the second colon of a line 100 (or to
// its end); empty without a colon or with nothing after it.
std::string PlatformOfLine(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon + 1 >= text.size()) return "";
  const std::size_t end = text.find(':', colon + 1);
  return text.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
}

// The answers' lengths, for what a module asks and does not take.
constexpr std::size_t kPlacementBytes = 2 * 4;  // two 32-bit words
constexpr std::size_t kRebootChoiceBytes = 1;
constexpr std::size_t kShortestCredentials = 3;  // 0x00 CR LF

bool IsRequest(int code) {
  return code == line::kCredentials || code == line::kPlacement || code == line::kImage ||
         code == line::kReboot;
}

}  // namespace

std::shared_ptr<const UpdateImage> ShareImage(LoadedImage&& loaded, std::string_view platform) {
  auto image = std::make_shared<UpdateImage>();
  image->platformName = std::string(platform);
  image->startAddress = loaded.startAddress;
  image->imageLength = loaded.imageLength;
  // The load's buffer holds the file's text too: an exact copy lets it go.
  image->imageData.reset(new (std::nothrow) unsigned char[loaded.imageLength]);
  if (image->imageData) {
    std::memcpy(image->imageData.get(), loaded.imageData.get(), loaded.imageLength);
  } else {
    image->imageData = std::move(loaded.imageData);
  }
  return image;
}

bool PlatformsAgree(std::string_view modulePlatform, std::string_view filePlatform) {
  if (modulePlatform == "RT40-512" && filePlatform == "RT40") return true;
  return modulePlatform == filePlatform;
}

UpdateSession::UpdateSession(Network* network, std::shared_ptr<const UpdateImage> image,
                             std::uint32_t moduleAddress, const Choices& choices, UpdateObserver& observer)
    : network_(network),
      image_(std::move(image)),
      moduleAddress_(moduleAddress),
      choices_(choices),
      observer_(observer) {}

UpdateSession::~UpdateSession() = default;

void UpdateSession::Start() {
  ModuleLineSink& sink = *this;
  socket_ = std::make_unique<UpdateSocket>(sink, network_, moduleAddress_);
  if (socket_->HasConnection()) return;
  NoteFailure(UpdateEnding::kConnectionFailed);
  char text[64];
  std::snprintf(text, sizeof text, "Error on Connect = %ld for %d", socket_->CreationError(), 0);
  ShowUpdateMessage(text);
}

UpdateEnding UpdateSession::Ending() const {
  if (platformsAgreed_) return UpdateEnding::kChecked;
  if (ended_.value_or(false)) return UpdateEnding::kCompleted;
  return failure_.value_or(UpdateEnding::kCancelled);
}

void UpdateSession::NoteFailure(UpdateEnding ending) {
  if (!failure_) failure_ = ending;
}

void UpdateSession::End(bool completed) {
  ended_ = completed;
  observer_.OnEnding(Ending());
}

void UpdateSession::OnTimer() {
  ++idleTicks_;
  if (idleTicks_ < kIdleLimit) return;
  NoteFailure(UpdateEnding::kTimedOut);
  HandleModuleMessage(line::kTimedOut, line::kTimedOutLine);
}

void UpdateSession::OnModuleLine(int code, const std::string& text) {
  if (platformsAgreed_) return;  // a check that has decided looks at nothing more
  lastModuleCode_ = code;
  if (line::IsError(code)) NoteFailure(UpdateEnding::kRefused);
  if (choices_.checkOnly && IsRequest(code)) {
    DecideCheck();  // a module that asks first has named no platform
    return;
  }
  HandleModuleMessage(code, text);
  if (choices_.checkOnly && code == line::kPlatform) DecideCheck();
}

void UpdateSession::OnConnectFailed() {
  NoteFailure(UpdateEnding::kConnectionFailed);
  HandleModuleMessage(line::kProgramError, line::kConnectErrorLine);
}

void UpdateSession::OnReceiveFailed() {
  NoteFailure(UpdateEnding::kConnectionFailed);
  HandleModuleMessage(line::kProgramError, line::kReceiveErrorLine);
}

void UpdateSession::OnClosedByModule() {
  // After the end the close is the module's ordinary last step.
  if (!choices_.endWhenClosed || ended_) return;
  NoteFailure(UpdateEnding::kConnectionFailed);
  HandleModuleMessage(line::kProgramError, line::kClosedByModuleLine);
}

void UpdateSession::HandleModuleMessage(int code, const std::string& text) {
  idleTicks_ = 0;
  if (line::IsProgress(code)) {
    observer_.OnProgress(std::min(code - line::kProgressBase, line::kMostPercent));
  } else if (code == line::kPlatform) {
    modulePlatform_ = PlatformOfLine(text);
    platformLineSeen_ = true;
  } else if (code == line::kCredentials) {
    AskForCredentials();
  } else if (line::IsError(code)) {
    ShowUpdateMessage("Error:" + (text.size() > 3 ? text.substr(3) : std::string()));
    End(false);
  } else if (code == line::kPlacement) {
    AnswerPlacement();
  } else if (code == line::kImage) {
    SendImage();
  } else if (code == line::kReboot) {
    SendReboot();
  } else if (code == line::kDone || code == line::kDoneToo) {
    completed_ = true;
    Cancel();
  }
}

void UpdateSession::Cancel() {
  if (completed_) {
    End(true);
    return;
  }
  NoteFailure(UpdateEnding::kCancelled);
  End(false);
}

void UpdateSession::ShowUpdateMessage(const std::string& text) {
  if (boxOpen_ || ended_ == false) return;
  boxOpen_ = true;
  observer_.OnMessage(text);
  boxOpen_ = false;
}

void UpdateSession::DecideCheck() {
  platformsAgreed_ = modulePlatform_.empty() || PlatformsAgree(modulePlatform_, image_->platformName);
  End(false);
}

void UpdateSession::AskForCredentials() {
  // One prompt at a time, and none once the update has ended.
  if (ended_ || prompting_ || !MayAnswer(line::kCredentials, kShortestCredentials)) return;
  prompting_ = true;
  observer_.OnCredentialsWanted();
}

void UpdateSession::AnswerCredentials(std::string_view userName, std::string_view password) {
  if (!prompting_) return;
  prompting_ = false;
  static const char kZero = '\0';
  static const char kLineEnd[2] = {'\r', '\n'};
  Send(userName.data(), userName.size());
  Send(&kZero, 1);
  Send(password.data(), password.size());
  Send(kLineEnd, sizeof kLineEnd);
  Answered(line::kCredentials);
}

void UpdateSession::CancelCredentials() {
  if (!prompting_) return;
  prompting_ = false;
  Cancel();
}

bool UpdateSession::MayAnswer(int code, std::size_t answerLength) {
  if (stoppedAnswering_) return false;
  if (socket_ == nullptr || !socket_->HasConnection()) return true;
  const std::uint64_t sent = socket_->BytesSent();
  const std::uint64_t queued = socket_->BytesTaken() - sent;
  if (queued == 0) heldBack_ = 0;  // the module has taken everything
  const auto end = answerEnds_.find(code);
  if (end == answerEnds_.end() || sent >= end->second) return true;
  // Asked again while the last answer still waits: answered once.
  heldBack_ += answerLength;
  if (queued + heldBack_ > std::uint64_t{image_->imageLength} + kMostUnreadBeyondImage) {
    stoppedAnswering_ = true;
    NoteFailure(UpdateEnding::kConnectionFailed);
    HandleModuleMessage(line::kProgramError, line::kStoppedReadingLine);
  }
  return false;
}

void UpdateSession::Answered(int code) {
  if (socket_ != nullptr) answerEnds_[code] = socket_->BytesTaken();
}

void UpdateSession::AnswerPlacement() {
  if (!MayAnswer(line::kPlacement, kPlacementBytes)) return;
  if (!modulePlatform_.empty() && !PlatformsAgree(modulePlatform_, image_->platformName)) {
    SendWord(0);
    SendWord(0);
  } else {
    SendWord(image_->startAddress);
    SendWord(image_->imageLength);
  }
  Answered(line::kPlacement);
}

void UpdateSession::SendImage() {
  if (!MayAnswer(line::kImage, image_->imageLength)) return;
  const long taken = socket_ == nullptr ? -1
                                        : socket_->WriteShared(std::shared_ptr<const unsigned char>(
                                                                   image_, image_->imageData.get()),
                                                               image_->imageLength);
  Answered(line::kImage);
  if (taken != static_cast<long>(image_->imageLength)) {
    NoteFailure(UpdateEnding::kConnectionFailed);
    ShowUpdateMessage("Send Error");
  }
}

void UpdateSession::SendReboot() {
  if (!MayAnswer(line::kReboot, kRebootChoiceBytes)) return;
  const char choice = choices_.rebootWhenComplete != 0 ? 'R' : 'D';
  Send(&choice, 1);
  Answered(line::kReboot);
}

void UpdateSession::SendWord(std::uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
      static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  Send(bytes, sizeof bytes);
}

// The results of these writes are not examined beyond the class of ending.
void UpdateSession::Send(const void* data, std::size_t length) {
  if (length == 0) return;
  const long taken = socket_ != nullptr ? socket_->Write(data, length) : -1;
  if (taken != static_cast<long>(length)) NoteFailure(UpdateEnding::kConnectionFailed);
}

}  // namespace tl
