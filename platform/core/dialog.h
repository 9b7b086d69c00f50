// The platform-neutral modal dialog. A core dialog knows its layout, talks to
// its controls by id through its window, and ends itself with a result; the
// host only draws and delivers events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tl {

constexpr int kResultOk = 1;
constexpr int kResultCancel = 2;

using TreeItem = std::uintptr_t;  // 0: none, or the root as a parent
constexpr TreeItem kTreeRoot = 0;

// The host's side of one running dialog.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  virtual std::string GetText(int id) const = 0;
  virtual void SetText(int id, std::string_view text) = 0;
  virtual bool GetCheck(int id) const = 0;
  virtual void SetCheck(int id, bool checked) = 0;
  // Focus on the control with its whole text selected.
  virtual void FocusAndSelectAll(int id) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;
  virtual bool IsControlEnabled(int id) const = 0;
  virtual void SetProgressRange(int id, int low, int high) = 0;
  virtual void SetProgressPos(int id, int position) = 0;

  // Tree view.
  virtual void TreeSetStateImages(int id, int bitmapResource) = 0;
  virtual TreeItem TreeInsertLast(int id, TreeItem parent, std::string_view text) = 0;
  virtual void TreeSetText(int id, TreeItem item, std::string_view text) = 0;
  virtual void TreeSetStateImage(int id, TreeItem item, int index) = 0;
  virtual void TreeSetData(int id, TreeItem item, void* data) = 0;
  virtual void* TreeGetData(int id, TreeItem item) const = 0;
  virtual void TreeSelect(int id, TreeItem item) = 0;
  virtual TreeItem TreeSelected(int id) const = 0;
  virtual void TreeDeleteAll(int id) = 0;

  // Repeating timer delivered to the dialog's OnTimer; returns the id, 0 on
  // failure. Setting a running id restarts it.
  virtual unsigned SetTimer(unsigned timerId, unsigned periodMs) = 0;
  virtual void KillTimer(unsigned timerId) = 0;

  // Window decorations.
  virtual bool HasSystemMenu() const = 0;
  // An empty text appends a separator.
  virtual void AppendSystemMenu(unsigned commandId, std::string_view text) = 0;
  virtual void SetIcon(int iconResource, bool large) = 0;

  // Asks the modal loop of this dialog to end with the result. It ends when
  // control returns to that loop (at once when asked during start-up).
  virtual void EndModal(int result) = 0;
};

class DataExchange;

class Dialog {
 public:
  Dialog(int layoutId, Dialog* parent);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog modally; returns the result it was ended with.
  int DoModal();
  void EndDialog(int result);
  // Taking in (true) or filling (false). Taking in stops at the first bad
  // field, which has shown its message; returns false then.
  bool UpdateData(bool saveAndValidate = true);

  int LayoutId() const { return layoutId_; }
  Dialog* Parent() const { return parent_; }
  DialogWindow* Window() const { return window_; }

  // ---- called by the host
  virtual void DoDataExchange(DataExchange& /*dx*/) {}
  // Fills the controls; returning true lets the host focus the first tab stop.
  virtual bool OnInitDialog();
  // Taking in, then end with OK.
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnTimer(unsigned /*timerId*/) {}
  // Button commands: 1 goes to OnOK, 2 to OnCancel, others to OnButton.
  virtual void OnCommand(int id);
  virtual void OnButton(int /*id*/) {}
  virtual void OnSysCommand(unsigned /*commandId*/) {}

  void AttachWindow(DialogWindow* window) { window_ = window; }

 private:
  int layoutId_;
  Dialog* parent_;
  DialogWindow* window_ = nullptr;
};

// One exchange between a dialog's controls and its fields, in one direction.
class DataExchange {
 public:
  DataExchange(Dialog& dialog, bool saveAndValidate)
      : dialog_(dialog), saving_(saveAndValidate) {}

  bool Failed() const { return failed_; }

  void Text(int id, std::string& value);
  void Check(int id, int& value);
  // An unsigned number 0..255: leading white space, digits, anything after
  // ignored. A failure shows the message, focuses and selects the box.
  void Octet(int id, std::uint8_t& value);

  // Marks the exchange failed: message, focus and selection on the control.
  void Fail(int id, std::string_view message);

  // Parses the octet rule; nothing when the text fails it.
  static bool ParseOctet(std::string_view text, std::uint8_t* value);

 private:
  Dialog& dialog_;
  bool saving_;
  bool failed_ = false;
};

}  // namespace tl
