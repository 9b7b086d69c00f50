// "Program Ombrelin": runs one whole update (layout 130). It loads the
// image and runs one update session, showing what the session tells: the
// progress bar, message boxes, the credentials prompt. Ends with OK on
// 106/107, else cancelled.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/dialog.h"
#include "update/update_session.h"

namespace tl {

class UpdateDialog : public Dialog, private UpdateObserver {
 public:
  static constexpr unsigned kIdleTimer = 1;

  UpdateDialog(std::string fileName, std::uint32_t moduleAddress, int rebootWhenComplete,
               Dialog* parent);
  ~UpdateDialog() override;

  // ---- Dialog
  bool OnInitDialog() override;
  void OnCancel() override;
  void OnTimer(unsigned id) override;

 private:
  // ---- UpdateObserver
  void OnProgress(int percent) override;
  void OnMessage(const std::string& text) override;
  void OnCredentialsWanted() override;
  void OnEnding(UpdateEnding ending) override;

  void StopTimer();

  std::string fileName;
  std::uint32_t moduleAddress;
  unsigned timerId = 0;
  int rebootWhenComplete;
  // The loaded image (its bytes, start address and length); then the
  // session, which owns the connection, the idle count and the module's
  // platform. The session goes first.
  std::shared_ptr<const UpdateImage> image_;
  std::unique_ptr<UpdateSession> session_;
};

}  // namespace tl
