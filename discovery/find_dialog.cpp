#include "discovery/find_dialog.h"

#include "platform/core/platform.h"

namespace tl {

FindDialog::FindDialog(Dialog* parent) : Dialog(kDialogFind, parent) {}

// The socket goes first so that no reply can arrive into a half-gone list.
FindDialog::~FindDialog() {
  socket_.reset();
  devices_.Clear();
}

// The tree (1015) and "Search Again" (1008) are reached by id through the
// window; nothing moves between controls and fields here.
void FindDialog::DoDataExchange(DataExchange&) {}

bool FindDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  socket_ = std::make_unique<DiscoverySocket>(*this, destinations_);
  devices_.Clear();
  if (DialogWindow* w = Window()) w->TreeSetStateImages(kIdDeviceTree, kBitmapStateImages);
  StartSearch();
  return true;
}

void FindDialog::StartSearch() {
  DialogWindow* w = Window();
  if (w == nullptr) return;
  if (timer_ != 0) w->KillTimer(timer_);
  timer_ = w->SetTimer(kSearchTimer, kSearchPeriodMs);
  searchTicks_ = 0;
  w->EnableControl(kIdSearchAgain, false);
  if (socket_) socket_->sendSearch();
}

void FindDialog::OnTimer(unsigned) {
  ++searchTicks_;
  if (socket_) socket_->sendHeardList(devices_.First());
  if (searchTicks_ >= kHeardListsPerSearch) {
    if (DialogWindow* w = Window()) {
      w->EnableControl(kIdSearchAgain, true);
      if (timer_ != 0) w->KillTimer(timer_);
    }
    timer_ = 0;
  }
}

void FindDialog::OnButton(int id) {
  if (id == kIdSearchAgain) OnSearchAgain();
}

void FindDialog::OnSearchAgain() {
  DialogWindow* w = Window();
  if (w == nullptr) return;
  w->TreeDeleteAll(kIdDeviceTree);
  devices_.Clear();
  StartSearch();
}

void FindDialog::OnOK() {
  DialogWindow* w = Window();
  if (w == nullptr) return;
  TreeItem item = w->TreeSelected(kIdDeviceTree);
  auto* record = item != 0 ? static_cast<DeviceRecord*>(w->TreeGetData(kIdDeviceTree, item)) : nullptr;
  if (record == nullptr) {
    ShowMessage("You must first select a device in the\nSelect a Unit in the tree.");
    return;
  }
  selectedAddress = record->connectAddress();
  EndDialog(kResultOk);
}

void FindDialog::addReply(const Reply& reply) {
  // Without a window (before it opens or after it closed) only the list learns.
  devices_.AddReply(reply, Window() != nullptr ? static_cast<DeviceTreeView*>(this) : nullptr);
}

TreeItem FindDialog::InsertLast(TreeItem parent, std::string_view text) {
  return Window()->TreeInsertLast(kIdDeviceTree, parent, text);
}
void FindDialog::SetText(TreeItem item, std::string_view text) {
  Window()->TreeSetText(kIdDeviceTree, item, text);
}
void FindDialog::SetStateImage(TreeItem item, int index) {
  Window()->TreeSetStateImage(kIdDeviceTree, item, index);
}
void FindDialog::SetData(TreeItem item, DeviceRecord* record) {
  Window()->TreeSetData(kIdDeviceTree, item, record);
}
void FindDialog::Select(TreeItem item) { Window()->TreeSelect(kIdDeviceTree, item); }

}  // namespace tl
