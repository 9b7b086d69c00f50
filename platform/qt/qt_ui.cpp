#include "platform/qt/qt_ui.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include "platform/core/dialog.h"
#include "platform/core/layout.h"
#include "platform/qt/qt_dialog_window.h"
#include "platform/qt/qt_text.h"

namespace tl {

QtUi::QtUi(std::string programTitle) : title_(std::move(programTitle)) {}

std::vector<QtDialogWindow*> QtUi::Windows() const {
  std::vector<QtDialogWindow*> windows;
  for (const Level& level : levels_) {
    if (level.window != nullptr) windows.push_back(level.window);
  }
  return windows;
}

QtDialogWindow* QtUi::WindowOf(const Dialog& dialog) const {
  for (const Level& level : levels_) {
    if (level.window != nullptr && &level.window->Owner() == &dialog) return level.window;
  }
  return nullptr;
}

bool QtUi::IsInnermost(const QtDialogWindow* window) const {
  return !levels_.empty() && levels_.back().window == window;
}

QWidget* QtUi::ActiveOwner() const {
  for (auto it = levels_.rbegin(); it != levels_.rend(); ++it) {
    if (it->window != nullptr && it->window->isVisible()) return it->window;
  }
  return nullptr;
}

void QtUi::PushLevel(QtDialogWindow* window) { levels_.push_back(Level{window}); }

void QtUi::PopLevel() {
  levels_.pop_back();
  // Control is back in the loop below: an ending asked for meanwhile counts now.
  if (!levels_.empty() && levels_.back().window != nullptr) levels_.back().window->ApplyPendingEnd();
}

void QtUi::ArmScreenshot(QWidget* widget, const QString& name) {
  QString dir = qEnvironmentVariable("TIDELOAD_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  int n = ++screenshotCounts_[name];
  QString path = QDir(dir).filePath(QStringLiteral("%1-%2.png").arg(name).arg(n));
  QTimer::singleShot(kScreenshotDelayMs, widget, [widget, path, dir] {
    QDir().mkpath(dir);
    widget->grab().save(path);
  });
}

int QtUi::RunModal(Dialog& dialog) {
  const DialogLayout* layout = FindDialogLayout(dialog.LayoutId());
  if (layout == nullptr) return -1;
  QWidget* owner = nullptr;
  if (dialog.Parent() != nullptr) owner = WindowOf(*dialog.Parent());
  if (owner == nullptr || !owner->isVisible()) owner = ActiveOwner();
  QtDialogWindow window(*this, dialog, *layout, owner);
  PushLevel(&window);
  dialog.AttachWindow(&window);
  if (dialog.OnInitDialog()) window.FocusFirstTabStop();
  if (!window.EndRequested()) ArmScreenshot(&window, QString::number(layout->id));
  int result = window.RunLoop();
  dialog.AttachWindow(nullptr);
  PopLevel();
  return result;
}

void QtUi::ShowMessageBox(std::string_view text) {
  QMessageBox box(QMessageBox::Warning, ToQt(title_), CodePageToQt(text), QMessageBox::Ok, ActiveOwner());
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  PushLevel(nullptr);
  ArmScreenshot(&box, QStringLiteral("message"));
  box.exec();
  PopLevel();
}

std::optional<std::string> QtUi::OpenFile(const OpenFileRequest& request) {
  QFileDialog dialog(ActiveOwner());
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (!request.filterPattern.empty()) {
    // The description is shown as it is; the pattern in brackets only filters.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilter(QStringLiteral("%1 (%2)").arg(ToQt(request.filterDescription),
                                                       ToQt(request.filterPattern)));
  }
  if (!request.initialDirectory.empty()) {
    QFileInfo initial(QFile::decodeName(QByteArray(request.initialDirectory.data(),
                                                   static_cast<qsizetype>(request.initialDirectory.size()))));
    if (initial.isDir()) {
      dialog.setDirectory(initial.absoluteFilePath());
    } else if (QFileInfo(initial.absolutePath()).isDir()) {
      // A file (the last one chosen): open its folder, with it selected
      // when it is still there.
      dialog.setDirectory(initial.absolutePath());
      if (initial.exists()) dialog.selectFile(initial.fileName());
    }
  }
  PushLevel(nullptr);
  int result = dialog.exec();
  QStringList files = dialog.selectedFiles();
  PopLevel();
  if (result != QDialog::Accepted || files.isEmpty()) return std::nullopt;
  QByteArray path = QFile::encodeName(QFileInfo(files.first()).absoluteFilePath());
  return std::string(path.constData(), static_cast<std::size_t>(path.size()));
}

}  // namespace tl
