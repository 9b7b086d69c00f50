// The program's one top-level window: address, file, reboot choice, Update.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/dialog.h"
#include "platform/core/layout.h"

namespace tl {

class MainDialog : public Dialog {
 public:
  // argumentText: everything after the program's name, as one string.
  explicit MainDialog(std::string_view argumentText);

  // ---- fields
  std::array<std::uint8_t, 4> ipOctets{0, 0, 0, 0};
  std::string fileName;
  int rebootWhenComplete = 0;
  int unattended = 0;
  int appIcon = 0;

  // The octets as one number, first octet most significant.
  std::uint32_t Address() const;
  void SetAddress(std::uint32_t address);

  // ---- Dialog
  void DoDataExchange(DataExchange& dx) override;
  bool OnInitDialog() override;
  void OnCommand(int id) override;
  void OnCancel() override;
  void OnButton(int id) override;
  void OnSysCommand(unsigned commandId) override;

  // ---- handlers
  void OnBrowse();
  void OnFind();    // the device selection dialog and its result
  void OnUpdate();  // "Update", Enter and the unattended start
  // The last step of OnUpdate: runs the update for the stored address and
  // reports its result; ends this dialog with OK after a success.
  void HandOverToUpdate(std::uint32_t address);
  void ShowAbout();
};

}  // namespace tl
