// One running dialog: a system dialog made from the layout's in-memory
// template and run by DialogBoxIndirectParam, so that the modal loop, the
// nesting and the disabled owner are the system's own. Every control is a
// real child window with its layout id (labels and the icon: 0xFFFF), so
// anything that finds windows through the Windows API reads what the core
// wrote.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <utility>
#include <vector>

#include "platform/core/dialog.h"
#include "platform/core/layout.h"

namespace tl {

class Win32DialogWindow : public DialogWindow {
 public:
  Win32DialogWindow(Dialog& dialog, const DialogLayout& layout);
  ~Win32DialogWindow() override;
  Win32DialogWindow(const Win32DialogWindow&) = delete;
  Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

  // Creates the window under owner (or none), runs the modal loop and
  // returns the result it was ended with; -1 when it could not be made.
  int Run(HWND owner);
  HWND Handle() const { return hwnd_; }
  Dialog& Owner() const { return dialog_; }

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

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnInit();
  bool PaintMinimized();
  HWND Item(int id) const { return hwnd_ != nullptr ? GetDlgItem(hwnd_, id) : nullptr; }
  LRESULT SendTree(int id, UINT message, WPARAM wParam, LPARAM lParam) const;
  HICON Icon(int iconResource, bool large);

  Dialog& dialog_;
  const DialogLayout& layout_;
  HWND hwnd_ = nullptr;
  std::map<std::pair<int, bool>, HICON> icons_;  // by resource and largeness, destroyed with the window
  std::map<int, HIMAGELIST> stateImages_;  // by tree id
  std::vector<unsigned> sysCommands_;
  HICON largeIcon_ = nullptr;  // painted while minimized, the drag icon
};

}  // namespace tl
