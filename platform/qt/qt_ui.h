// The Qt user interface: modal dialogs from layouts (QDialog::exec gives the
// nested loops), message boxes, the file-open dialog.
#pragma once

#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/platform.h"

class QWidget;

namespace tl {

class QtDialogWindow;

class QtUi : public Ui {
 public:
  explicit QtUi(std::string programTitle);

  int RunModal(Dialog& dialog) override;
  void ShowMessageBox(std::string_view text) override;
  std::optional<std::string> OpenFile(const OpenFileRequest& request) override;
  std::string ProgramTitle() override { return title_; }

  // The open dialog windows, outermost first.
  std::vector<QtDialogWindow*> Windows() const;
  QtDialogWindow* WindowOf(const Dialog& dialog) const;
  // True when no message box, file dialog or child dialog runs above it.
  bool IsInnermost(const QtDialogWindow* window) const;

  // With TIDELOAD_SCREENSHOT_DIR set, every dialog window and message box
  // is grabbed into <dir>/<layout id or "message">-<n>.png this long after
  // it is shown.
  static constexpr int kScreenshotDelayMs = 300;

 private:
  // One running modal loop; window is null for boxes and file dialogs.
  struct Level {
    QtDialogWindow* window;
  };
  // The innermost visible dialog window: owner of boxes and children.
  QWidget* ActiveOwner() const;
  void PushLevel(QtDialogWindow* window);
  void PopLevel();
  void ArmScreenshot(QWidget* widget, const QString& name);

  std::string title_;
  std::vector<Level> levels_;
  std::map<QString, int> screenshotCounts_;
};

}  // namespace tl
