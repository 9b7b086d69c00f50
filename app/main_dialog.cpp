#include "app/main_dialog.h"

#include <cstdint>

#include "app/about_dialog.h"
#include "app/command_line.h"
#include "discovery/find_dialog.h"
#include "platform/core/platform.h"
#include "settings/settings.h"
#include "update/update_dialog.h"

namespace tl {

namespace {
constexpr int kOctetIds[4] = {kIdOctet1, kIdOctet2, kIdOctet3, kIdOctet4};
}

MainDialog::MainDialog(std::string_view argumentText) : Dialog(kDialogMain, nullptr) {
  appIcon = kIconApp;
  CommandLineOptions options;
  options.address = LoadIpAddress();
  if (!argumentText.empty()) ScanCommandLine(argumentText, options);
  fileName = options.fileName;
  rebootWhenComplete = options.rebootWhenComplete;
  unattended = options.unattended;
  if (options.address != 0) SetAddress(options.address);
}

std::uint32_t MainDialog::Address() const {
  return static_cast<std::uint32_t>(ipOctets[0]) << 24 | static_cast<std::uint32_t>(ipOctets[1]) << 16 |
         static_cast<std::uint32_t>(ipOctets[2]) << 8 | ipOctets[3];
}

void MainDialog::SetAddress(std::uint32_t address) {
  for (int i = 0; i < 4; ++i) ipOctets[i] = static_cast<std::uint8_t>(address >> (24 - 8 * i));
}

void MainDialog::DoDataExchange(DataExchange& dx) {
  for (int i = 0; i < 4; ++i) dx.Octet(kOctetIds[i], ipOctets[i]);
  dx.Text(kIdFileName, fileName);
  dx.Check(kIdReboot, rebootWhenComplete);
}

bool MainDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  DialogWindow* w = Window();
  std::string about = LoadStringResource(kStringAboutMenu);
  if (w->HasSystemMenu() && !about.empty()) {
    w->AppendSystemMenu(0, "");
    w->AppendSystemMenu(kSysCommandAbout, about);
  }
  w->SetIcon(appIcon, true);
  w->SetIcon(appIcon, false);
  if (unattended == 1) OnUpdate();
  return true;
}

void MainDialog::OnCommand(int id) {
  // The default button is "Update", not the platform's OK step.
  if (id == kResultOk) {
    OnUpdate();
    return;
  }
  Dialog::OnCommand(id);
}

void MainDialog::OnCancel() { EndDialog(kResultCancel); }

void MainDialog::OnButton(int id) {
  if (id == kIdBrowse) OnBrowse();
  if (id == kIdFind) OnFind();
}

void MainDialog::OnSysCommand(unsigned commandId) {
  if ((commandId & 0xFFF0u) == kSysCommandAbout) ShowAbout();
}

void MainDialog::ShowAbout() {
  AboutDialog about(this);
  about.DoModal();
}

void MainDialog::OnBrowse() {
  OpenFileRequest request;
  request.filterDescription = "Application Files *_APP.s19";
  request.filterPattern = "*_APP.s19";
  request.initialDirectory = LoadFileDir();
  Ui* ui = CurrentHost().ui;
  if (ui == nullptr) return;
  std::optional<std::string> chosen = ui->OpenFile(request);
  if (!chosen) return;
  if (DialogWindow* w = Window()) w->SetText(kIdFileName, *chosen);
  SaveFileDir(*chosen);
}

void MainDialog::OnUpdate() {
  if (!UpdateData(true)) return;
  std::uint32_t address = Address();
  if (address == 0) {
    ShowMessage("Invalid IP address ");
    return;
  }
  SaveIpAddress(address);
  HandOverToUpdate(address);
}

void MainDialog::OnFind() {
  // Keep what the user typed in the other boxes; a bad box has said so.
  const bool takenIn = UpdateData(true);
  std::uint32_t chosen = 0;
  {
    // Gone (socket closed, records released) before anything else is shown.
    FindDialog find(this);
    if (find.DoModal() == kResultOk) chosen = find.selectedAddress;
  }
  if (chosen == 0) {
    ShowMessage("IP not set");
    return;
  }
  SaveIpAddress(chosen);
  SetAddress(chosen);
  if (!takenIn && Window() != nullptr) {
    // The taking in stopped at a bad octet before these two: take them as
    // they stand so that the filling does not overwrite the user's entries.
    fileName = Window()->GetText(kIdFileName);
    rebootWhenComplete = Window()->GetCheck(kIdReboot) ? 1 : 0;
  }
  UpdateData(false);
}

void MainDialog::HandOverToUpdate(std::uint32_t address) {
  int result = kResultCancel;
  {
    // Made for this one update; gone (connection closed, image freed)
    // before the result is reported.
    UpdateDialog update(fileName, address, rebootWhenComplete, this);
    result = update.DoModal();
  }
  if (result == kResultOk) {
    if (unattended != 1) ShowMessage("Programming Complete without Error.");
    Dialog::OnOK();
    return;
  }
  ShowMessage("Update Failed");
}

}  // namespace tl
