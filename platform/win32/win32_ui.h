// The Windows user interface: dialogs from layouts, message boxes, the
// common file-open dialog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/core/platform.h"

namespace tl {

class Win32DialogWindow;

class Win32Ui : public Ui {
 public:
  explicit Win32Ui(std::string programTitle);

  int RunModal(Dialog& dialog) override;
  void ShowMessageBox(std::string_view text) override;
  std::optional<std::string> OpenFile(const OpenFileRequest& request) override;
  std::string ProgramTitle() override { return title_; }

 private:
  // The window of the parent dialog when it runs, else the innermost
  // running dialog (the active window), else none.
  HWND OwnerFor(const Dialog* parent) const;

  std::string title_;
  std::vector<Win32DialogWindow*> running_;  // outermost first
};

}  // namespace tl
