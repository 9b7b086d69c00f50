#include "cli/update_run.h"

#include <cstdio>

#include "cli/digest.h"
#include "platform/core/platform.h"
#include "update/module_lines.h"

namespace tl::cli {

namespace {
// The line the console hands the dialog when the module has closed the
// connection: it reads "Error: Connection closed by module".
const char kClosedLine[] = "299 Connection closed by module";
}  // namespace

class UpdateRun::Scope {
 public:
  explicit Scope(UpdateRun* run) : previous_(active_) { active_ = run; }
  ~Scope() { active_ = previous_; }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  UpdateRun* previous_;
};

UpdateRun::UpdateRun(std::uint32_t address, const Settings& settings,
                     std::optional<ImageIdentity>& reference)
    : UpdateDialog(settings.file, address, settings.reboot, nullptr),
      settings_(settings),
      reference_(reference) {
  result_.address = address;
  result_.file = settings.file;
}

bool UpdateRun::OnInitDialog() {
  Scope scope(this);
  UpdateDialog::OnInitDialog();
  if (imageData != nullptr) CheckIdentity();
  return true;
}

// Every load of a batch sets the one process-wide platform name, and each
// exchange checks against it at 102: so every load must give the same
// image. A file changed under a batch leaves the later modules alone.
void UpdateRun::CheckIdentity() {
  ImageIdentity identity{platformName, startAddress, imageLength, ""};
  if (!Sha256Hex(imageData.get(), imageLength, identity.sha256)) identity.sha256.clear();
  result_.filePlatform = identity.platform;
  result_.startAddress = startAddress;
  result_.imageLength = imageLength;
  result_.sha256 = identity.sha256;
  if (!reference_) {
    reference_ = identity;
    return;
  }
  if (identity == *reference_) return;
  std::snprintf(platformName, kPlatformNameSize, "%s", reference_->platform.c_str());
  NoteCause(Outcome::kLoadFailed);
  ShowMessage("tideload-cli: " + settings_.file + " changed while the updates ran: not updated");
  OnCancel();
}

void UpdateRun::OnCancel() {
  Scope scope(this);
  if (!completed) NoteCause(Outcome::kCancelled);
  UpdateDialog::OnCancel();
}

void UpdateRun::OnTimer(unsigned id) {
  Scope scope(this);
  inTimer_ = true;
  UpdateDialog::OnTimer(id);
  inTimer_ = false;
}

void UpdateRun::HandleModuleMessage(int code, const std::string& text) {
  Scope scope(this);
  // A dry run that has decided looks at nothing more.
  if (settings_.dryRun && result_.platformsAgree) return;
  const bool own = inTimer_ || ownLine_;
  ownLine_ = false;
  if (own && code == line::kTimedOut) NoteCause(Outcome::kTimedOut);
  if (!own) {
    result_.lastCode = code;
    if (line::IsError(code)) NoteCause(Outcome::kRefused);
  }
  if (settings_.dryRun) {
    // A module that asks for the placement first has named no platform.
    if (code == line::kPlacement || code == line::kImage || code == line::kReboot) {
      DecideDryRun();
      return;
    }
  }
  UpdateDialog::HandleModuleMessage(code, text);
  if (code == line::kPlatform && !own) result_.modulePlatform = modulePlatform;
  if (settings_.dryRun && code == line::kPlatform) DecideDryRun();
}

// The check the placement answer makes, then the end without a byte sent.
void UpdateRun::DecideDryRun() {
  std::string platform = modulePlatform;
  result_.platformsAgree = platform.empty() || PlatformsAgree(platform, platformName);
  OnCancel();
}

void UpdateRun::OnConnectionEvent(ConsoleNetwork::Event event) {
  Scope scope(this);
  NoteCause(Outcome::kConnectionFailed);
  switch (event) {
    case ConsoleNetwork::Event::kConnectFailed:
    case ConsoleNetwork::Event::kReceiveFailed:
      ownLine_ = true;  // the socket's 299 line follows at once
      break;
    case ConsoleNetwork::Event::kWriteShort:
      break;
    case ConsoleNetwork::Event::kClosedByPeer:
      ownLine_ = true;
      HandleModuleMessage(line::kProgramError, kClosedLine);
      break;
  }
}

void UpdateRun::NoteCause(Outcome outcome) {
  if (!cause_) cause_ = outcome;
}

ConsoleProgress::Figures UpdateRun::Figures(int percent, std::uint64_t elapsedMs) const {
  ConsoleProgress::Figures f;
  f.percent = percent;
  f.bytesSent = socket != nullptr ? socket->BytesSent() : 0;
  f.imageLength = imageLength;
  f.elapsedMs = elapsedMs;
  return f;
}

const UpdateResult& UpdateRun::Finish(int dialogResult, double seconds) {
  result_.seconds = seconds;
  result_.bytesSent = socket != nullptr ? socket->BytesSent() : 0;
  if (result_.platformsAgree) {
    result_.outcome = *result_.platformsAgree ? Outcome::kOk : Outcome::kRefused;
  } else if (dialogResult == kResultOk) {
    result_.outcome = Outcome::kOk;
  } else if (imageData == nullptr) {
    result_.outcome = Outcome::kLoadFailed;
  } else if (socket != nullptr && !socket->HasConnection()) {
    result_.outcome = Outcome::kConnectionFailed;
  } else {
    result_.outcome = cause_.value_or(Outcome::kCancelled);
  }
  return result_;
}

}  // namespace tl::cli
