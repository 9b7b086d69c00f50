// "Program Ombrelin": runs one whole update (layout 130). It loads the
// image, opens the connection and answers the module's lines; the module
// leads, the dialog only reacts. Ends with OK on 106/107, else cancelled.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/dialog.h"
#include "update/srecord_loader.h"
#include "update/update_socket.h"

namespace tl {

class UpdateDialog : public Dialog, public ModuleLineSink {
 public:
  static constexpr unsigned kIdleTimer = 1;
  static constexpr unsigned kIdlePeriodMs = 1000;
  static constexpr int kIdleLimit = 30;  // ticks without a line

  UpdateDialog(std::string fileName, std::uint32_t moduleAddress, int rebootWhenComplete,
               Dialog* parent);
  ~UpdateDialog() override;

  // ---- fields
  std::string fileName;
  std::uint32_t moduleAddress;
  unsigned timerId = 0;
  decltype(LoadedImage::imageData) imageData{};
  bool completed = false;
  std::uint32_t startAddress = 0;
  std::uint32_t imageLength = 0;
  int rebootWhenComplete;
  std::int32_t idleTicks = 0;
  std::string modulePlatform;
  std::unique_ptr<UpdateSocket> socket;

  // ---- Dialog
  bool OnInitDialog() override;
  void OnCancel() override;
  void OnTimer(unsigned id) override;

  // ---- the protocol: one line from the module (or the program's own)
  void HandleModuleMessage(int code, const std::string& text) override;

  // The check at 102 for a module that named its platform: whether it
  // takes an image built for filePlatform. A module of the -512 variant
  // takes images built for the plain model; its platform then reads as that.
  static bool PlatformsAgree(std::string& modulePlatform, const std::string& filePlatform);

 private:
  // What the handler needs from the dialog.
  void SetProgress(int position);
  // A box of the update: at most one at a time, and none once it has ended.
  void ShowUpdateMessage(const std::string& text);
  void StopTimer();
  void EndCancelled();
  long Send(const void* data, std::size_t length);
  void SendWord(std::uint32_t value);
  void AnswerCredentials();
  void AnswerPlacement();
  void SendImage();

  bool ending_ = false;      // an ending has been asked for
  bool boxOpen_ = false;     // a box of the update is on screen
  bool promptOpen_ = false;  // the credentials prompt is on screen
  std::uint64_t imageEnd_ = 0;  // where the last image ends in the byte stream
};

}  // namespace tl
