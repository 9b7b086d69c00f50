// Dialogs without a window: control state kept in memory, the modal loops
// run on an EventLoop. The console host and the test host are built on it;
// hooks stand in for the user.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/dialog.h"
#include "platform/core/layout.h"
#include "platform/core/platform.h"
#include "platform/headless/event_loop.h"

namespace tl {

class HeadlessUi;

class HeadlessWindow : public DialogWindow {
 public:
  struct TreeNode {
    TreeItem parent = kTreeRoot;
    std::string text;
    int stateImage = 0;
    void* data = nullptr;
    std::vector<TreeItem> children;
  };
  struct Control {
    const ControlLayout* layout = nullptr;
    std::string text;
    bool checked = false;
    bool enabled = true;
    int progressLow = 0, progressHigh = 100, progressPos = 0;
    // Tree view.
    int stateImageBitmap = 0;
    std::vector<TreeItem> roots;
    std::map<TreeItem, TreeNode> nodes;
    TreeItem selected = 0;
  };

  HeadlessWindow(HeadlessUi& ui, Dialog& dialog, const DialogLayout* layout);
  ~HeadlessWindow() override;

  // ---- DialogWindow
  std::string GetText(int id) const override;
  void SetText(int id, std::string_view text) override;
  bool GetCheck(int id) const override;
  void SetCheck(int id, bool checked) override;
  void FocusAndSelectAll(int id) override;
  void EnableControl(int id, bool enabled) override;
  bool IsControlEnabled(int id) const override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPos(int id, int position) override;
  void TreeSetStateImages(int id, int bitmapResource) override;
  TreeItem TreeInsertLast(int id, TreeItem parent, std::string_view text) override;
  void TreeSetText(int id, TreeItem item, std::string_view text) override;
  void TreeSetStateImage(int id, TreeItem item, int index) override;
  void TreeSetData(int id, TreeItem item, void* data) override;
  void* TreeGetData(int id, TreeItem item) const override;
  void TreeSelect(int id, TreeItem item) override;
  TreeItem TreeSelected(int id) const override;
  void TreeDeleteAll(int id) override;
  unsigned SetTimer(unsigned timerId, unsigned periodMs) override;
  void KillTimer(unsigned timerId) override;
  bool HasSystemMenu() const override;
  void AppendSystemMenu(unsigned commandId, std::string_view text) override;
  void SetIcon(int iconResource, bool large) override;
  void EndModal(int result) override;

  // ---- for hosts and scripted users
  Dialog& Owner() { return dialog_; }
  const DialogLayout* Layout() const { return layout_; }
  bool Ended() const { return ended_; }
  int Result() const { return result_; }
  // A user's click: a disabled or unknown button does nothing. Check boxes toggle.
  void Press(int id);
  // Escape or the close box.
  void Close() { dialog_.OnCancel(); }
  // The user types into an edit (replaces its text).
  void Type(int id, std::string_view text) { SetText(id, text); }
  int Focus() const { return focus_; }
  bool WholeTextSelected() const { return selectAll_; }
  const Control* Find(int id) const;
  Control* Find(int id);
  std::vector<std::pair<unsigned, std::string>> SystemMenu() const { return sysMenu_; }
  std::map<bool, int> Icons() const { return icons_; }
  std::vector<unsigned> RunningTimers() const;

 private:
  friend class HeadlessUi;
  HeadlessUi& ui_;
  Dialog& dialog_;
  const DialogLayout* layout_;
  std::map<int, Control> controls_;
  std::map<unsigned, std::uint64_t> timers_;  // timer id -> loop handle
  std::vector<std::pair<unsigned, std::string>> sysMenu_;
  std::map<bool, int> icons_;
  TreeItem nextItem_ = 1;
  int focus_ = kNoId;
  bool selectAll_ = false;
  bool ended_ = false;
  int result_ = 0;
};

// An open message box, until someone closes it.
struct HeadlessMessageBox {
  std::string text;
  bool closed = false;
  void Close() { closed = true; }
};

class HeadlessUi : public Ui {
 public:
  struct Hooks {
    // After OnInitDialog, when the dialog did not end there: the user's turn.
    std::function<void(HeadlessWindow&)> onDialogShown;
    // A box appears; close it now or later. Default: closed at once.
    std::function<void(HeadlessMessageBox&)> onMessageBox;
    std::function<std::optional<std::string>(const OpenFileRequest&)> onOpenFile;
    // A progress bar moved (console drawing).
    std::function<void(HeadlessWindow&, int id, int position)> onProgress;
  };

  HeadlessUi(EventLoop& loop, std::string programTitle);

  Hooks& hooks() { return hooks_; }
  EventLoop& Loop() { return loop_; }

  int RunModal(Dialog& dialog) override;
  // RunModal in two halves, for a host that runs several dialogs on one
  // loop side by side: Open starts the dialog as RunModal does and returns
  // its window (null without a layout); once the window has ended, Finish
  // detaches it and gives its result. The window goes after Finish.
  std::unique_ptr<HeadlessWindow> Open(Dialog& dialog);
  int Finish(HeadlessWindow& window);
  void ShowMessageBox(std::string_view text) override;
  std::optional<std::string> OpenFile(const OpenFileRequest& request) override;
  std::string ProgramTitle() override { return title_; }

  HeadlessWindow* WindowOf(int layoutId) const;
  const std::vector<HeadlessMessageBox*>& OpenBoxes() const { return boxes_; }
  // Every message box text shown so far, in order.
  const std::vector<std::string>& Messages() const { return messages_; }
  void ClearMessages() { messages_.clear(); }
  std::vector<OpenFileRequest> FileRequests() const { return fileRequests_; }

 private:
  EventLoop& loop_;
  std::string title_;
  Hooks hooks_;
  std::vector<HeadlessWindow*> windows_;
  std::vector<HeadlessMessageBox*> boxes_;
  std::vector<std::string> messages_;
  std::vector<OpenFileRequest> fileRequests_;
};

}  // namespace tl
