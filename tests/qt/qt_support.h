// Helpers for driving the Qt host from tests: a host on a temporary registry
// folder, actions that run once a condition holds (from inside whatever
// modal loop is running), a watchdog that ends a stuck test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "platform/core/dialog.h"
#include "platform/core/layout.h"
#include "platform/qt/dialog_units.h"
#include "platform/qt/qt_dialog_window.h"
#include "platform/qt/qt_host.h"
#include "tests/support/test_host.h"

// Failures show Qt strings as text.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace tl::test {

// A dialog whose handlers are set by the test.
class ScriptedDialog : public Dialog {
 public:
  explicit ScriptedDialog(int layoutId, Dialog* parent = nullptr) : Dialog(layoutId, parent) {}
  std::function<bool()> onInit;
  std::function<void(unsigned)> onTimer;
  std::function<void(int)> onButton;
  std::function<void(unsigned)> onSysCommand;
  std::function<void()> onCancel;
  std::function<void()> onOk;

  bool OnInitDialog() override {
    Dialog::OnInitDialog();
    return onInit ? onInit() : true;
  }
  void OnTimer(unsigned id) override {
    if (onTimer) onTimer(id);
  }
  void OnButton(int id) override {
    if (onButton) onButton(id);
  }
  void OnSysCommand(unsigned id) override {
    if (onSysCommand) onSysCommand(id);
  }
  void OnCancel() override {
    if (onCancel) {
      onCancel();
    } else {
      Dialog::OnCancel();
    }
  }
  void OnOK() override {
    if (onOk) {
      onOk();
    } else {
      Dialog::OnOK();
    }
  }
  QtDialogWindow* QtWindow() const { return dynamic_cast<QtDialogWindow*>(Window()); }
};

// A picture of the widget for the eye, in <build>/screenshots/<name>.
inline void SaveScreenshot(QWidget& widget, const QString& name) {
  QDir dir(QStringLiteral(TIDELOAD_BUILD_DIR "/screenshots"));
  dir.mkpath(QStringLiteral("."));
  widget.grab().save(dir.filePath(name));
}

// The window's size, caption and every control (kind, text, place and size)
// as its layout gives them, converted with the window font's base units.
inline void ExpectBuiltFromLayout(const QtDialogWindow& w) {
  const DialogLayout& layout = w.Layout();
  DialogBaseUnits base = BaseUnitsOf(w.font());
  EXPECT_EQ(w.size(), MapDialogSize(base, layout.width, layout.height));
  EXPECT_EQ(w.windowTitle(), QString::fromLatin1(layout.caption));
  for (std::size_t i = 0; i < layout.controls.size(); ++i) {
    const ControlLayout& c = layout.controls[i];
    QWidget* widget = w.ControlAt(i);
    ASSERT_NE(widget, nullptr);
    QRect expected = MapDialogRect(base, c.x, c.y, c.width, c.height);
    if (c.kind == ControlKind::Icon) {
      expected.setSize(QSize(32, 32));  // a static icon takes its picture's size
      auto* label = qobject_cast<QLabel*>(widget);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->pixmap().size(), QSize(32, 32));
    }
    EXPECT_EQ(widget->geometry(), expected) << "control " << i;
    if (c.id != kNoId) {
      EXPECT_EQ(w.Control(c.id), widget);
    }
    switch (c.kind) {
      case ControlKind::PushButton:
      case ControlKind::DefPushButton: {
        auto* button = qobject_cast<QPushButton*>(widget);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromLatin1(c.text));
        // A push button with the focus is the default one for the time being.
        bool buttonFocused = qobject_cast<QPushButton*>(w.focusWidget()) != nullptr;
        EXPECT_EQ(button->isDefault(),
                  buttonFocused ? widget == w.focusWidget() : c.kind == ControlKind::DefPushButton);
        break;
      }
      case ControlKind::Label:
        ASSERT_NE(qobject_cast<QLabel*>(widget), nullptr);
        EXPECT_EQ(qobject_cast<QLabel*>(widget)->text(), QString::fromLatin1(c.text));
        break;
      case ControlKind::Edit: {
        auto* edit = qobject_cast<QLineEdit*>(widget);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->echoMode() == QLineEdit::Password, (c.style & kPassword) != 0);
        EXPECT_EQ(edit->validator() != nullptr, (c.style & kDigitsOnly) != 0);
        break;
      }
      case ControlKind::CheckBox:
        EXPECT_NE(qobject_cast<QCheckBox*>(widget), nullptr);
        break;
      case ControlKind::ProgressBar:
        EXPECT_NE(qobject_cast<QProgressBar*>(widget), nullptr);
        break;
      case ControlKind::TreeView:
        EXPECT_NE(qobject_cast<QTreeWidget*>(widget), nullptr);
        break;
      case ControlKind::Icon:
        break;
    }
  }
}

class QtHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = std::make_unique<QtHost>("tideload", registryDir_.Path().string());
    watchdog_ = new QTimer(&scope_);
    watchdog_->setSingleShot(true);
    QObject::connect(watchdog_, &QTimer::timeout, [this] { Rescue(); });
    watchdog_->start(15000);
  }
  void TearDown() override {
    watchdog_->stop();
    host_.reset();
  }

  QtUi& Ui() { return host_->ui; }

  // The innermost open window of that layout: shown, in its loop, not ended.
  QtDialogWindow* OpenWindow(int layoutId) {
    std::vector<QtDialogWindow*> windows = Ui().Windows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
      QtDialogWindow* w = *it;
      if (w->Layout().id == layoutId && w->InLoop() && w->isVisible() && !w->EndRequested()) return w;
    }
    return nullptr;
  }
  // No window of that layout is left: its modal run has returned. (An ended
  // window hides at once, but its loop returns only after the rest of the
  // events at hand, which may include a test's poll.)
  bool Gone(int layoutId) {
    std::vector<QtDialogWindow*> windows = Ui().Windows();
    return std::none_of(windows.begin(), windows.end(),
                        [layoutId](QtDialogWindow* w) { return w->Layout().id == layoutId; });
  }

  // Runs fn once condition holds, looking every 5 ms.
  void When(std::function<bool()> condition, std::function<void()> fn) {
    auto* timer = new QTimer(&scope_);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, condition, fn] {
      if (!condition()) return;
      timer->stop();
      fn();
    });
    timer->start();
  }
  void WhenOpen(int layoutId, std::function<void(QtDialogWindow&)> fn) {
    When([this, layoutId] { return OpenWindow(layoutId) != nullptr; },
         [this, layoutId, fn] { fn(*OpenWindow(layoutId)); });
  }
  template <typename T>
  void WhenModal(std::function<void(T&)> fn) {
    When([] { return qobject_cast<T*>(QApplication::activeModalWidget()) != nullptr &&
                     QApplication::activeModalWidget()->isVisible(); },
         [fn] { fn(*qobject_cast<T*>(QApplication::activeModalWidget())); });
  }
  // Runs fn once control is back in this window's own loop: every box, file
  // dialog and child dialog above it has returned.
  void WhenBackIn(QtDialogWindow& w, std::function<void()> fn) {
    When([this, &w] { return Ui().IsInnermost(&w); }, std::move(fn));
  }

  TempDir registryDir_;
  std::unique_ptr<QtHost> host_;
  QObject scope_;
  QTimer* watchdog_ = nullptr;

 private:
  // Ends whatever is open so that a failing test fails instead of hanging.
  void Rescue() {
    ADD_FAILURE() << "the test did not finish in time";
    while (QWidget* modal = QApplication::activeModalWidget()) {
      auto* window = dynamic_cast<QtDialogWindow*>(modal);
      if (window != nullptr) {
        window->EndModal(-99);
        window->ApplyPendingEnd();
      }
      if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        if (window == nullptr) dialog->done(0);
      }
      if (QApplication::activeModalWidget() == modal) modal->hide();
      break;
    }
    QTimer::singleShot(100, &scope_, [this] { Rescue(); });
  }
};

}  // namespace tl::test
