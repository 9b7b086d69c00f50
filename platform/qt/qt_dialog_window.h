// One generic Qt dialog that builds its controls from a layout table and
// hands every event to its core Dialog: commands, Escape and the close box,
// timers, the system menu (a context menu and F1 here). It never ends
// itself; the core ends it through EndModal.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/dialog.h"
#include "platform/core/layout.h"
#include "platform/qt/dialog_units.h"

class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace tl {

class QtUi;

class QtDialogWindow : public QDialog, public DialogWindow {
  Q_OBJECT

 public:
  QtDialogWindow(QtUi& ui, Dialog& dialog, const DialogLayout& layout, QWidget* owner);
  ~QtDialogWindow() override;

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

  // ---- for the host and tests
  Dialog& Owner() const { return dialog_; }
  const DialogLayout& Layout() const { return layout_; }
  // The control with this id, or null. Controls without an id are found by
  // their place in the layout table with ControlAt.
  QWidget* Control(int id) const;
  QWidget* ControlAt(std::size_t index) const;
  QTreeWidgetItem* TreeWidgetItem(int id, TreeItem item) const;
  bool EndRequested() const { return endRequested_; }
  bool InLoop() const { return inLoop_; }

  // Focus on the first enabled tab stop (an edit gets its text selected).
  void FocusFirstTabStop();
  // Runs the modal loop unless the dialog has already been ended; returns
  // the result it was ended with.
  int RunLoop();
  // Ends the loop now when an ending was asked for while a nested loop ran.
  void ApplyPendingEnd();
  // Delivers a system-menu command as the menu would.
  void ChooseSystemCommand(unsigned commandId);

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct Tree {
    QTreeWidget* widget = nullptr;
    std::map<TreeItem, QTreeWidgetItem*> items;
    std::map<TreeItem, void*> data;
    std::vector<QPixmap> stateImages;
    TreeItem next = 1;
  };
  // What SetText put into an edit, so that an untouched box gives back the
  // same bytes even when they are not UTF-8.
  struct EditText {
    std::string bytes;
    QString shown;
  };

  struct TimerSlot {
    QTimer* timer = nullptr;
    std::uint64_t generation = 0;
    bool tickPending = false;
  };

  void BuildControls();
  void DeliverTick(unsigned timerId, std::uint64_t generation);
  Tree* FindTree(int id);
  const Tree* FindTree(int id) const;

  QtUi& ui_;
  Dialog& dialog_;
  const DialogLayout& layout_;
  DialogBaseUnits base_;
  std::vector<QWidget*> controlsInOrder_;  // by layout index
  std::map<int, QWidget*> controls_;
  std::map<int, Tree> trees_;
  std::map<int, EditText> editTexts_;
  std::map<unsigned, TimerSlot> timers_;
  std::uint64_t timerGeneration_ = 0;
  std::vector<std::pair<unsigned, std::string>> sysMenu_;
  bool inLoop_ = false;
  bool endRequested_ = false;
  int result_ = 0;
};

}  // namespace tl
