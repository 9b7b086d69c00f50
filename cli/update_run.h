// One module's update in tideload-cli: the update dialog the desktop program
// runs, watched from outside so that its ending can be told by class, and
// what a script needs to know of it afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "platform/console/console_network.h"
#include "platform/console/console_progress.h"
#include "update/update_dialog.h"

namespace tl::cli {

struct UpdateResult {
  std::uint32_t address = 0;
  std::string file;
  // From this update's own load; none when the file did not load.
  std::optional<std::string> filePlatform;
  std::uint32_t startAddress = 0;
  std::uint32_t imageLength = 0;
  std::string sha256;
  std::optional<std::string> modulePlatform;  // as its line 100 named it
  std::uint64_t bytesSent = 0;
  double seconds = 0;
  Outcome outcome = Outcome::kCancelled;
  std::vector<std::string> messages;  // code-page texts, in order
  std::optional<int> lastCode;        // of the last line the module sent
  std::optional<bool> platformsAgree; // a dry run's finding
  // With --verify: what the module ran before (when it answered then), and
  // after its reboot (none: it did not come back in time).
  struct Comeback {
    std::optional<std::string> appBefore;
    std::optional<std::string> appAfter;
    double seconds = 0;  // from the end of the updates until it answered
  };
  std::optional<Comeback> verify;
};

// What the first load of a batch gave; every later load must give the same.
struct ImageIdentity {
  std::string platform;
  std::uint32_t startAddress = 0;
  std::uint32_t imageLength = 0;
  std::string sha256;
  bool operator==(const ImageIdentity&) const = default;
};

class UpdateRun final : public UpdateDialog {
 public:
  struct Settings {
    std::string file;
    int reboot = 0;
    bool dryRun = false;  // stop after the module's platform; send nothing
  };

  // reference: shared by the runs of one batch, empty at first.
  UpdateRun(std::uint32_t address, const Settings& settings, std::optional<ImageIdentity>& reference);

  // The run whose handler is running now, if any: messages shown belong to it.
  static UpdateRun* Active() { return active_; }

  bool OnInitDialog() override;
  void OnCancel() override;
  void OnTimer(unsigned id) override;
  void HandleModuleMessage(int code, const std::string& text) override;

  // What the console saw of this run's connection.
  void OnConnectionEvent(ConsoleNetwork::Event event);
  void NoteMessage(std::string codePageText) { result_.messages.push_back(std::move(codePageText)); }
  bool Owns(const SocketEvents& owner) const { return socket.get() == &owner; }

  ConsoleProgress::Figures Figures(int percent, std::uint64_t elapsedMs) const;
  // Once the dialog has ended with dialogResult.
  const UpdateResult& Finish(int dialogResult, double seconds);
  const UpdateResult& Result() const { return result_; }

 private:
  // Marks this run active for the time of one of its handlers.
  class Scope;
  void NoteCause(Outcome outcome);
  void CheckIdentity();
  void DecideDryRun();

  static inline UpdateRun* active_ = nullptr;
  Settings settings_;
  std::optional<ImageIdentity>& reference_;
  UpdateResult result_;
  std::optional<Outcome> cause_;  // the first failure seen
  bool inTimer_ = false;
  bool ownLine_ = false;  // the next line is the program's own
};

}  // namespace tl::cli
