// Helpers for driving the Qt host from tests: a host on a temporary registry
// folder, actions that run once a condition holds (from inside whatever
// modal loop is running), a watchdog that ends a stuck test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/dialog.h"
#include "platform/qt/qt_dialog_window.h"
#include "platform/qt/qt_host.h"
#include "tests/support/test_host.h"

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

  // The innermost open window of that layout, shown and in its loop.
  QtDialogWindow* OpenWindow(int layoutId) {
    std::vector<QtDialogWindow*> windows = Ui().Windows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
      if ((*it)->Layout().id == layoutId && (*it)->InLoop() && (*it)->isVisible()) return *it;
    }
    return nullptr;
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
  void After(int ms, std::function<void()> fn) { QTimer::singleShot(ms, &scope_, std::move(fn)); }

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
