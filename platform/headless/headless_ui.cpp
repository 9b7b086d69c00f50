#include "platform/headless/headless_ui.h"

#include <algorithm>

namespace tl {

// ---------------------------------------------------------------- HeadlessWindow

HeadlessWindow::HeadlessWindow(HeadlessUi& ui, Dialog& dialog, const DialogLayout* layout)
    : ui_(ui), dialog_(dialog), layout_(layout) {
  if (layout_ == nullptr) return;
  for (const ControlLayout& c : layout_->controls) {
    if (c.id == kNoId) continue;
    Control control;
    control.layout = &c;
    control.text = c.text;
    controls_[c.id] = control;
  }
}

HeadlessWindow::~HeadlessWindow() {
  for (const auto& [id, handle] : timers_) ui_.Loop().RemoveTimer(handle);
}

const HeadlessWindow::Control* HeadlessWindow::Find(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

HeadlessWindow::Control* HeadlessWindow::Find(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

std::string HeadlessWindow::GetText(int id) const {
  const Control* c = Find(id);
  return c ? c->text : std::string();
}

void HeadlessWindow::SetText(int id, std::string_view text) {
  if (Control* c = Find(id)) c->text = std::string(text);
}

bool HeadlessWindow::GetCheck(int id) const {
  const Control* c = Find(id);
  return c && c->checked;
}

void HeadlessWindow::SetCheck(int id, bool checked) {
  if (Control* c = Find(id)) c->checked = checked;
}

void HeadlessWindow::FocusAndSelectAll(int id) {
  focus_ = id;
  selectAll_ = true;
}

void HeadlessWindow::EnableControl(int id, bool enabled) {
  if (Control* c = Find(id)) c->enabled = enabled;
}

bool HeadlessWindow::IsControlEnabled(int id) const {
  const Control* c = Find(id);
  return c && c->enabled;
}

void HeadlessWindow::SetProgressRange(int id, int low, int high) {
  if (Control* c = Find(id)) {
    c->progressLow = low;
    c->progressHigh = high;
    c->progressPos = std::clamp(c->progressPos, low, std::max(low, high));
  }
}

void HeadlessWindow::SetProgressPos(int id, int position) {
  Control* c = Find(id);
  if (c == nullptr) return;
  c->progressPos = std::clamp(position, c->progressLow, std::max(c->progressLow, c->progressHigh));
  if (ui_.hooks().onProgress) ui_.hooks().onProgress(*this, id, c->progressPos);
}

void HeadlessWindow::TreeSetStateImages(int id, int bitmapResource) {
  if (Control* c = Find(id)) c->stateImageBitmap = bitmapResource;
}

TreeItem HeadlessWindow::TreeInsertLast(int id, TreeItem parent, std::string_view text) {
  Control* c = Find(id);
  if (c == nullptr) return 0;
  if (parent != kTreeRoot && !c->nodes.count(parent)) return 0;
  TreeItem item = nextItem_++;
  TreeNode node;
  node.parent = parent;
  node.text = std::string(text);
  c->nodes[item] = node;
  if (parent == kTreeRoot) {
    c->roots.push_back(item);
  } else {
    c->nodes[parent].children.push_back(item);
  }
  return item;
}

void HeadlessWindow::TreeSetText(int id, TreeItem item, std::string_view text) {
  Control* c = Find(id);
  if (c && c->nodes.count(item)) c->nodes[item].text = std::string(text);
}

void HeadlessWindow::TreeSetStateImage(int id, TreeItem item, int index) {
  Control* c = Find(id);
  if (c && c->nodes.count(item)) c->nodes[item].stateImage = index;
}

void HeadlessWindow::TreeSetData(int id, TreeItem item, void* data) {
  Control* c = Find(id);
  if (c && c->nodes.count(item)) c->nodes[item].data = data;
}

void* HeadlessWindow::TreeGetData(int id, TreeItem item) const {
  const Control* c = Find(id);
  if (c == nullptr) return nullptr;
  auto it = c->nodes.find(item);
  return it == c->nodes.end() ? nullptr : it->second.data;
}

void HeadlessWindow::TreeSelect(int id, TreeItem item) {
  Control* c = Find(id);
  if (c && (item == 0 || c->nodes.count(item))) c->selected = item;
}

TreeItem HeadlessWindow::TreeSelected(int id) const {
  const Control* c = Find(id);
  return c ? c->selected : 0;
}

void HeadlessWindow::TreeDeleteAll(int id) {
  if (Control* c = Find(id)) {
    c->roots.clear();
    c->nodes.clear();
    c->selected = 0;
  }
}

unsigned HeadlessWindow::SetTimer(unsigned timerId, unsigned periodMs) {
  if (timerId == 0) return 0;
  KillTimer(timerId);
  Dialog* dialog = &dialog_;
  timers_[timerId] = ui_.Loop().AddTimer(periodMs, periodMs == 0 ? 1 : periodMs,
                                          [dialog, timerId] { dialog->OnTimer(timerId); });
  return timerId;
}

void HeadlessWindow::KillTimer(unsigned timerId) {
  auto it = timers_.find(timerId);
  if (it == timers_.end()) return;
  ui_.Loop().RemoveTimer(it->second);
  timers_.erase(it);
}

std::vector<unsigned> HeadlessWindow::RunningTimers() const {
  std::vector<unsigned> ids;
  for (const auto& [id, handle] : timers_) ids.push_back(id);
  return ids;
}

bool HeadlessWindow::HasSystemMenu() const {
  return layout_ != nullptr && (layout_->style & kSystemMenu) != 0;
}

void HeadlessWindow::AppendSystemMenu(unsigned commandId, std::string_view text) {
  sysMenu_.push_back({commandId, std::string(text)});
}

void HeadlessWindow::SetIcon(int iconResource, bool large) { icons_[large] = iconResource; }

void HeadlessWindow::EndModal(int result) {
  ended_ = true;
  result_ = result;
}

void HeadlessWindow::Press(int id) {
  Control* c = Find(id);
  if (c == nullptr || !c->enabled) return;
  if (c->layout->kind == ControlKind::CheckBox) {
    c->checked = !c->checked;
    return;
  }
  if (c->layout->kind == ControlKind::PushButton || c->layout->kind == ControlKind::DefPushButton) {
    dialog_.OnCommand(id);
  }
}

// ---------------------------------------------------------------- HeadlessUi

HeadlessUi::HeadlessUi(EventLoop& loop, std::string programTitle)
    : loop_(loop), title_(std::move(programTitle)) {}

HeadlessWindow* HeadlessUi::WindowOf(int layoutId) const {
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
    if ((*it)->Owner().LayoutId() == layoutId) return *it;
  }
  return nullptr;
}

std::unique_ptr<HeadlessWindow> HeadlessUi::Open(Dialog& dialog) {
  const DialogLayout* layout = FindDialogLayout(dialog.LayoutId());
  if (layout == nullptr) return nullptr;
  auto window = std::make_unique<HeadlessWindow>(*this, dialog, layout);
  windows_.push_back(window.get());
  dialog.AttachWindow(window.get());
  if (dialog.OnInitDialog()) {
    for (const ControlLayout& c : layout->controls) {
      if ((c.style & kTabStop) != 0 && window->IsControlEnabled(c.id)) {
        window->focus_ = c.id;
        window->selectAll_ = c.kind == ControlKind::Edit;
        break;
      }
    }
  }
  if (!window->Ended() && hooks_.onDialogShown) hooks_.onDialogShown(*window);
  return window;
}

int HeadlessUi::Finish(HeadlessWindow& window) {
  window.Owner().AttachWindow(nullptr);
  windows_.erase(std::find(windows_.begin(), windows_.end(), &window));
  return window.Result();
}

int HeadlessUi::RunModal(Dialog& dialog) {
  std::unique_ptr<HeadlessWindow> window = Open(dialog);
  if (window == nullptr) return -1;
  while (!window->Ended()) {
    // Nothing can ever happen (virtual clock): the run ends unanswered.
    if (!loop_.RunOnce()) window->EndModal(-1);
  }
  return Finish(*window);
}

void HeadlessUi::ShowMessageBox(std::string_view text) {
  messages_.emplace_back(text);
  HeadlessMessageBox box;
  box.text = std::string(text);
  boxes_.push_back(&box);
  if (hooks_.onMessageBox) {
    hooks_.onMessageBox(box);
  } else {
    box.Close();
  }
  while (!box.closed) {
    if (!loop_.RunOnce()) box.Close();
  }
  boxes_.erase(std::find(boxes_.begin(), boxes_.end(), &box));
}

std::optional<std::string> HeadlessUi::OpenFile(const OpenFileRequest& request) {
  fileRequests_.push_back(request);
  if (hooks_.onOpenFile) return hooks_.onOpenFile(request);
  return std::nullopt;
}

}  // namespace tl
