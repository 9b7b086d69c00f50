// One update of one module with no user interface behind it: the whole
// exchange of numbered lines over one connection. It is given the image,
// the module's address and the reboot choice; it tells an observer what a
// user would see. The module leads, the session only reacts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/platform.h"
#include "update/srecord_loader.h"
#include "update/update_socket.h"

namespace tl {

// An application image as updates send it: read-only, shared by every
// session that sends it, carrying the platform its file names.
struct UpdateImage {
  std::string platformName;
  std::uint32_t startAddress = 0;
  std::uint32_t imageLength = 0;
  std::unique_ptr<unsigned char[]> imageData;  // exactly imageLength bytes
};

// A load's image, with the platform name that load set.
std::shared_ptr<const UpdateImage> ShareImage(LoadedImage&& loaded, std::string_view platform);

// The check at 102 for a module that named its platform: whether it takes
// an image built for filePlatform. A module of the -512 variant takes
// images built for the plain model.
bool PlatformsAgree(std::string_view modulePlatform, std::string_view filePlatform);

// How an update ended, for front ends that tell endings apart.
enum class UpdateEnding {
  kCompleted,         // 106 or 107
  kChecked,           // check only: the platforms were compared, nothing sent
  kRefused,           // an error line from the module (201 to 300)
  kTimedOut,          // no line for the idle limit
  kConnectionFailed,  // no connection, a failed receive or send, the module closed or stopped reading
  kCancelled,         // the user cancelled, here or at the credentials prompt
};

class UpdateObserver {
 public:
  virtual void OnProgress(int percent) = 0;
  // A message the user must read (a box). The session goes on when this
  // returns, and may be re-entered meanwhile.
  virtual void OnMessage(const std::string& text) = 0;
  // The module asks for credentials: answer with AnswerCredentials or
  // CancelCredentials, from inside this call or later.
  virtual void OnCredentialsWanted() = 0;
  // An ending was asked for: the owner stops the idle ticks and closes the
  // session when it next has control. Asked again before that, the last
  // ending counts.
  virtual void OnEnding(UpdateEnding ending) = 0;

 protected:
  ~UpdateObserver() = default;
};

class UpdateSession final : private ModuleLineSink {
 public:
  static constexpr unsigned kIdlePeriodMs = 1000;
  static constexpr int kIdleLimit = 30;  // ticks without a line
  // What the module may have asked for and not yet taken, beyond the image,
  // before the session stops answering it.
  static constexpr std::size_t kMostUnreadBeyondImage = 16 * 1024;

  struct Choices {
    int rebootWhenComplete = 0;
    // The module's close ends the update at once ("Connection closed by
    // module"), instead of the idle limit.
    bool endWhenClosed = false;
    // Compare the platforms at the module's first line that names or needs
    // one, then end; nothing is ever sent.
    bool checkOnly = false;
  };

  UpdateSession(Network* network, std::shared_ptr<const UpdateImage> image, std::uint32_t moduleAddress,
                const Choices& choices, UpdateObserver& observer);
  ~UpdateSession();  // closes the connection; nothing is sent
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Creates the socket; the connect begins and the module leads from then on.
  void Start();
  // One tick of the idle count; the owner ticks every kIdlePeriodMs until
  // the session ends.
  void OnTimer();
  // The user's Cancel (or Escape, or the close box).
  void Cancel();
  // The answer to OnCredentialsWanted. Given after the end it is still sent.
  void AnswerCredentials(std::string_view userName, std::string_view password);
  void CancelCredentials();

  // ---- what front ends report
  bool Ended() const { return ended_.has_value(); }
  // The ending as it stands; meaningful once Ended().
  UpdateEnding Ending() const;
  // The platform as the module's last line 100 named it; none before one came.
  std::optional<std::string> ModulePlatform() const {
    return platformLineSeen_ ? std::optional<std::string>(modulePlatform_) : std::nullopt;
  }
  std::optional<int> LastModuleCode() const { return lastModuleCode_; }
  // Check only: whether the platforms agree, once compared.
  std::optional<bool> PlatformsAgreed() const { return platformsAgreed_; }
  std::uint64_t BytesSent() const { return socket_ != nullptr ? socket_->BytesSent() : 0; }

 private:
  // ---- ModuleLineSink
  void OnModuleLine(int code, const std::string& text) override;
  void OnConnectFailed() override;
  void OnReceiveFailed() override;
  void OnClosedByModule() override;

  // One line, the module's or the program's own.
  void HandleModuleMessage(int code, const std::string& text);
  // A failure's class: the first one seen is the update's.
  void NoteFailure(UpdateEnding ending);
  void End(bool completed);
  // A box of the update: at most one at a time, and none once it has
  // ended cancelled.
  void ShowUpdateMessage(const std::string& text);
  void AskForCredentials();
  void DecideCheck();
  // Whether a request may be answered: not while its last answer waits to
  // be taken, nor once the module asked for too much it does not take.
  bool MayAnswer(int code, std::size_t answerLength);
  void Answered(int code);
  void AnswerPlacement();
  void SendImage();
  void SendReboot();
  void Send(const void* data, std::size_t length);
  void SendWord(std::uint32_t value);

  Network* network_;
  std::shared_ptr<const UpdateImage> image_;
  std::uint32_t moduleAddress_;
  Choices choices_;
  UpdateObserver& observer_;
  std::unique_ptr<UpdateSocket> socket_;

  std::int32_t idleTicks_ = 0;
  std::string modulePlatform_;
  bool platformLineSeen_ = false;
  bool completed_ = false;
  std::optional<bool> ended_;  // the last ending asked for: completed or not
  std::optional<UpdateEnding> failure_;
  std::optional<int> lastModuleCode_;
  std::optional<bool> platformsAgreed_;
  bool boxOpen_ = false;
  bool prompting_ = false;
  // Per request code: where its last answer ends in the byte stream.
  std::map<int, std::uint64_t> answerEnds_;
  // Answers held back while the earlier ones wait: what the module asked
  // for on top of what is queued.
  std::uint64_t heldBack_ = 0;
  bool stoppedAnswering_ = false;
};

}  // namespace tl
