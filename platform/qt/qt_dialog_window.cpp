#include "platform/qt/qt_dialog_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>

#include "platform/qt/qt_pictures.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/qt_ui.h"

namespace tl {

namespace {

constexpr const char* kIdProperty = "tideloadId";

Qt::WindowFlags FlagsOf(const DialogLayout& layout) {
  // A window of the task bar is a normal top-level window; the others are
  // dialogs, transient for the window below them.
  Qt::WindowFlags flags = (layout.style & kAppWindow) != 0 ? Qt::Window : Qt::Dialog;
  flags |= Qt::CustomizeWindowHint;
  if ((layout.style & kTitleBar) != 0) flags |= Qt::WindowTitleHint;
  if ((layout.style & kSystemMenu) != 0) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if ((layout.style & kMinimizeBox) != 0) flags |= Qt::WindowMinimizeButtonHint;
  if ((layout.style & kMaximizeBox) != 0) flags |= Qt::WindowMaximizeButtonHint;
  return flags;
}

// The classic tree's branches: dotted lines from each item to its parent's
// line and on to its next sibling, and a boxed plus or minus on items with
// children.
class TreeLineStyle : public QProxyStyle {
 public:
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element != PE_IndicatorBranch) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    constexpr int kBox = 9;
    const QRect& r = option->rect;
    const int midX = r.x() + r.width() / 2;
    const int midY = r.y() + r.height() / 2;
    const QBrush dots(option->palette.color(QPalette::Dark), Qt::Dense4Pattern);
    const bool item = (option->state & State_Item) != 0;
    const bool sibling = (option->state & State_Sibling) != 0;
    if (item || sibling) painter->fillRect(midX, r.top(), 1, midY - r.top(), dots);
    if (sibling) painter->fillRect(midX, midY, 1, r.bottom() - midY + 1, dots);
    if (item) painter->fillRect(midX, midY, r.right() - midX + 1, 1, dots);
    if ((option->state & State_Children) == 0) return;
    QRect box(midX - kBox / 2, midY - kBox / 2, kBox, kBox);
    painter->fillRect(box, option->palette.color(QPalette::Base));
    painter->setPen(option->palette.color(QPalette::Dark));
    painter->drawRect(box.adjusted(0, 0, -1, -1));
    painter->setPen(option->palette.color(QPalette::Text));
    painter->drawLine(midX - 2, midY, midX + 2, midY);
    if ((option->state & State_Open) == 0) painter->drawLine(midX, midY - 2, midX, midY + 2);
  }
};

}  // namespace

QtDialogWindow::QtDialogWindow(QtUi& ui, Dialog& dialog, const DialogLayout& layout, QWidget* owner)
    : QDialog(owner, FlagsOf(layout)), ui_(ui), dialog_(dialog), layout_(layout) {
  setWindowTitle(ToQt(layout.caption != nullptr ? layout.caption : ""));
  setWindowModality(Qt::ApplicationModal);
  QFont font = DialogFont(layout);
  setFont(font);
  base_ = BaseUnitsOf(font);
  setFixedSize(MapDialogSize(base_, layout.width, layout.height));
  BuildControls();
}

QtDialogWindow::~QtDialogWindow() {
  for (auto& [id, slot] : timers_) slot.timer->stop();
}

void QtDialogWindow::BuildControls() {
  QWidget* previousTabStop = nullptr;
  for (const ControlLayout& c : layout_.controls) {
    QWidget* widget = nullptr;
    QRect rect = MapDialogRect(base_, c.x, c.y, c.width, c.height);
    switch (c.kind) {
      case ControlKind::PushButton:
      case ControlKind::DefPushButton: {
        auto* button = new QPushButton(ToQt(c.text), this);
        button->setAutoDefault(true);
        if (c.kind == ControlKind::DefPushButton) button->setDefault(true);
        int id = c.id;
        connect(button, &QPushButton::clicked, this, [this, id] { dialog_.OnCommand(id); });
        widget = button;
        break;
      }
      case ControlKind::Label: {
        auto* label = new QLabel(ToQt(c.text), this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        widget = label;
        break;
      }
      case ControlKind::Edit: {
        auto* edit = new QLineEdit(this);
        edit->setFrame((c.style & kBorder) != 0);
        if ((c.style & kDigitsOnly) != 0) {
          edit->setValidator(
              new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        }
        if ((c.style & kPassword) != 0) edit->setEchoMode(QLineEdit::Password);
        if (c.text != nullptr && c.text[0] != '\0') edit->setText(ToQt(c.text));
        widget = edit;
        break;
      }
      case ControlKind::CheckBox:
        widget = new QCheckBox(ToQt(c.text), this);
        break;
      case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
      case ControlKind::TreeView: {
        auto* tree = new QTreeWidget(this);
        tree->setHeaderHidden(true);
        tree->setColumnCount(1);
        tree->setSelectionMode(QAbstractItemView::SingleSelection);
        tree->setRootIsDecorated((c.style & kLinesAtRoot) != 0);
        tree->setItemsExpandable((c.style & kHasButtons) != 0);
        if ((c.style & kHasLines) != 0) {
          auto* lines = new TreeLineStyle;
          lines->setParent(tree);
          tree->setStyle(lines);
        }
        tree->setIconSize(QSize(16, 16));
        tree->setFrameShape((c.style & kBorder) != 0 ? QFrame::StyledPanel : QFrame::NoFrame);
        tree->header()->setStretchLastSection(true);
        Tree& model = trees_[c.id];
        model.widget = tree;
        widget = tree;
        break;
      }
      case ControlKind::Icon: {
        auto* picture = new QLabel(this);
        QPixmap pixmap = IconPixmap(c.resource);
        picture->setPixmap(pixmap);
        // A static icon sizes itself to its picture.
        if (!pixmap.isNull()) rect.setSize(pixmap.size());
        widget = picture;
        break;
      }
    }
    widget->setGeometry(rect);
    widget->setProperty(kIdProperty, c.id);
    if (c.id != kNoId) widget->setObjectName(QStringLiteral("control%1").arg(c.id));
    if ((c.style & kTabStop) != 0) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previousTabStop != nullptr) QWidget::setTabOrder(previousTabStop, widget);
      previousTabStop = widget;
    } else if (c.kind == ControlKind::Label || c.kind == ControlKind::Icon ||
               c.kind == ControlKind::ProgressBar) {
      widget->setFocusPolicy(Qt::NoFocus);
    } else {
      widget->setFocusPolicy(Qt::ClickFocus);
    }
    controlsInOrder_.push_back(widget);
    if (c.id != kNoId && controls_.count(c.id) == 0) controls_[c.id] = widget;
  }
}

QWidget* QtDialogWindow::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

QWidget* QtDialogWindow::ControlAt(std::size_t index) const {
  return index < controlsInOrder_.size() ? controlsInOrder_[index] : nullptr;
}

// ---------------------------------------------------------------- texts and states

std::string QtDialogWindow::GetText(int id) const {
  QWidget* w = Control(id);
  QString text;
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    text = edit->text();
    auto it = editTexts_.find(id);
    if (it != editTexts_.end() && it->second.shown == text) return it->second.bytes;
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    text = button->text();
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    text = label->text();
  } else {
    return std::string();
  }
  return FromQt(text);
}

void QtDialogWindow::SetText(int id, std::string_view text) {
  QWidget* w = Control(id);
  QString shown = ToQt(text);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    edit->setText(shown);
    editTexts_[id] = EditText{std::string(text), edit->text()};
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(shown);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(shown);
  }
}

bool QtDialogWindow::GetCheck(int id) const {
  auto* box = qobject_cast<QCheckBox*>(Control(id));
  return box != nullptr && box->isChecked();
}

void QtDialogWindow::SetCheck(int id, bool checked) {
  if (auto* box = qobject_cast<QCheckBox*>(Control(id))) box->setChecked(checked);
}

void QtDialogWindow::FocusAndSelectAll(int id) {
  QWidget* w = Control(id);
  if (w == nullptr) return;
  w->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    edit->selectAll();
    // A text set just before leaves a queued update in the edit that drops
    // the selection; selecting again behind it makes the selection stick.
    QMetaObject::invokeMethod(edit, &QLineEdit::selectAll, Qt::QueuedConnection);
  }
}

void QtDialogWindow::EnableControl(int id, bool enabled) {
  if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

bool QtDialogWindow::IsControlEnabled(int id) const {
  QWidget* w = Control(id);
  return w != nullptr && w->isEnabled();
}

void QtDialogWindow::SetProgressRange(int id, int low, int high) {
  auto* bar = qobject_cast<QProgressBar*>(Control(id));
  if (bar == nullptr) return;
  int value = bar->value();
  bar->setRange(low, std::max(low, high));
  bar->setValue(std::clamp(value, bar->minimum(), bar->maximum()));
}

void QtDialogWindow::SetProgressPos(int id, int position) {
  auto* bar = qobject_cast<QProgressBar*>(Control(id));
  // Out-of-range positions are pinned to the range, as the progress control does.
  if (bar != nullptr) bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

// ---------------------------------------------------------------- tree view

QtDialogWindow::Tree* QtDialogWindow::FindTree(int id) {
  auto it = trees_.find(id);
  return it == trees_.end() ? nullptr : &it->second;
}

const QtDialogWindow::Tree* QtDialogWindow::FindTree(int id) const {
  auto it = trees_.find(id);
  return it == trees_.end() ? nullptr : &it->second;
}

QTreeWidgetItem* QtDialogWindow::TreeWidgetItem(int id, TreeItem item) const {
  const Tree* tree = FindTree(id);
  if (tree == nullptr) return nullptr;
  auto it = tree->items.find(item);
  return it == tree->items.end() ? nullptr : it->second;
}

void QtDialogWindow::TreeSetStateImages(int id, int bitmapResource) {
  if (Tree* tree = FindTree(id)) tree->stateImages = StripImages(bitmapResource);
}

TreeItem QtDialogWindow::TreeInsertLast(int id, TreeItem parent, std::string_view text) {
  Tree* tree = FindTree(id);
  if (tree == nullptr) return 0;
  QTreeWidgetItem* parentItem = nullptr;
  if (parent != kTreeRoot) {
    parentItem = TreeWidgetItem(id, parent);
    if (parentItem == nullptr) return 0;
  }
  TreeItem handle = tree->next++;
  auto* item = new QTreeWidgetItem(QStringList(CodePageToQt(text)));
  item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(handle));
  if (parentItem != nullptr) {
    parentItem->addChild(item);
  } else {
    tree->widget->addTopLevelItem(item);
  }
  tree->items[handle] = item;
  return handle;
}

void QtDialogWindow::TreeSetText(int id, TreeItem item, std::string_view text) {
  if (QTreeWidgetItem* it = TreeWidgetItem(id, item)) it->setText(0, CodePageToQt(text));
}

void QtDialogWindow::TreeSetStateImage(int id, TreeItem item, int index) {
  Tree* tree = FindTree(id);
  QTreeWidgetItem* it = TreeWidgetItem(id, item);
  if (tree == nullptr || it == nullptr) return;
  // State image 0 means none; the others index the strip.
  if (index > 0 && static_cast<std::size_t>(index) < tree->stateImages.size()) {
    it->setIcon(0, QIcon(tree->stateImages[static_cast<std::size_t>(index)]));
  } else {
    it->setIcon(0, QIcon());
  }
}

void QtDialogWindow::TreeSetData(int id, TreeItem item, void* value) {
  Tree* tree = FindTree(id);
  if (tree != nullptr && tree->items.count(item) != 0) tree->data[item] = value;
}

void* QtDialogWindow::TreeGetData(int id, TreeItem item) const {
  const Tree* tree = FindTree(id);
  if (tree == nullptr) return nullptr;
  auto it = tree->data.find(item);
  return it == tree->data.end() ? nullptr : it->second;
}

void QtDialogWindow::TreeSelect(int id, TreeItem item) {
  Tree* tree = FindTree(id);
  if (tree == nullptr) return;
  if (item == 0) {
    tree->widget->clearSelection();
    tree->widget->setCurrentItem(nullptr);
    return;
  }
  if (QTreeWidgetItem* it = TreeWidgetItem(id, item)) {
    tree->widget->setCurrentItem(it);
    it->setSelected(true);
  }
}

TreeItem QtDialogWindow::TreeSelected(int id) const {
  const Tree* tree = FindTree(id);
  if (tree == nullptr) return 0;
  QList<QTreeWidgetItem*> selected = tree->widget->selectedItems();
  if (selected.isEmpty()) return 0;
  return static_cast<TreeItem>(selected.first()->data(0, Qt::UserRole).toULongLong());
}

void QtDialogWindow::TreeDeleteAll(int id) {
  Tree* tree = FindTree(id);
  if (tree == nullptr) return;
  tree->widget->clear();
  tree->items.clear();
  tree->data.clear();
}

// ---------------------------------------------------------------- timers

unsigned QtDialogWindow::SetTimer(unsigned timerId, unsigned periodMs) {
  if (timerId == 0) return 0;
  KillTimer(timerId);
  TimerSlot& slot = timers_[timerId];
  slot.generation = ++timerGeneration_;
  slot.timer = new QTimer(this);
  slot.timer->setInterval(static_cast<int>(std::clamp(periodMs, 1u, 0x7fffffffu)));
  std::uint64_t generation = slot.generation;
  connect(slot.timer, &QTimer::timeout, this, [this, timerId, generation] {
    // A tick is posted rather than handled here: Qt does not fire a timer
    // again while its own handler runs, but a tick must reach OnTimer even
    // while an earlier tick's message box is open. At most one tick per
    // timer waits at a time.
    auto it = timers_.find(timerId);
    if (it == timers_.end() || it->second.generation != generation || it->second.tickPending) return;
    it->second.tickPending = true;
    QMetaObject::invokeMethod(
        this, [this, timerId, generation] { DeliverTick(timerId, generation); }, Qt::QueuedConnection);
  });
  slot.timer->start();
  return timerId;
}

void QtDialogWindow::DeliverTick(unsigned timerId, std::uint64_t generation) {
  auto it = timers_.find(timerId);
  // Killed or restarted since the tick was posted: it is dropped.
  if (it == timers_.end() || it->second.generation != generation) return;
  it->second.tickPending = false;
  dialog_.OnTimer(timerId);
}

void QtDialogWindow::KillTimer(unsigned timerId) {
  auto it = timers_.find(timerId);
  if (it == timers_.end()) return;
  QTimer* timer = it->second.timer;
  timers_.erase(it);
  // The timer may be the one whose tick is running now.
  timer->stop();
  timer->disconnect();
  timer->deleteLater();
}

// ---------------------------------------------------------------- decorations

bool QtDialogWindow::HasSystemMenu() const { return (layout_.style & kSystemMenu) != 0; }

void QtDialogWindow::AppendSystemMenu(unsigned commandId, std::string_view text) {
  sysMenu_.emplace_back(commandId, std::string(text));
}

void QtDialogWindow::SetIcon(int iconResource, bool /*large*/) {
  // One icon serves both sizes; the desktop scales it.
  QPixmap pixmap = IconPixmap(iconResource);
  if (!pixmap.isNull()) setWindowIcon(QIcon(pixmap));
}

void QtDialogWindow::ChooseSystemCommand(unsigned commandId) { dialog_.OnSysCommand(commandId); }

void QtDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
  bool any = std::any_of(sysMenu_.begin(), sysMenu_.end(), [](const auto& item) { return !item.second.empty(); });
  if (!any) {
    QDialog::contextMenuEvent(event);
    return;
  }
  QMenu menu(this);
  std::map<QAction*, unsigned> commands;
  for (const auto& [commandId, text] : sysMenu_) {
    if (text.empty()) {
      if (!menu.isEmpty()) menu.addSeparator();
      continue;
    }
    commands[menu.addAction(ToQt(text))] = commandId;
  }
  QAction* chosen = menu.exec(event->globalPos());
  // The dialog may have been ended while the menu was open.
  if (endRequested_) return;
  if (chosen != nullptr && commands.count(chosen) != 0) ChooseSystemCommand(commands[chosen]);
}

// ---------------------------------------------------------------- keys and ending

void QtDialogWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    dialog_.OnCancel();
    return;
  }
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    for (const auto& [commandId, text] : sysMenu_) {
      if (!text.empty()) {
        ChooseSystemCommand(commandId);
        return;
      }
    }
  }
  // Enter presses the default button.
  QDialog::keyPressEvent(event);
}

void QtDialogWindow::reject() { dialog_.OnCancel(); }

void QtDialogWindow::closeEvent(QCloseEvent* event) {
  // The close box asks the core; the window goes only when the core ends it.
  event->ignore();
  if (!endRequested_) dialog_.OnCancel();
}

void QtDialogWindow::EndModal(int result) {
  endRequested_ = true;
  result_ = result;
  if (inLoop_ && ui_.IsInnermost(this)) done(result);
}

void QtDialogWindow::ApplyPendingEnd() {
  if (endRequested_ && inLoop_) done(result_);
}

void QtDialogWindow::FocusFirstTabStop() {
  std::size_t index = 0;
  for (const ControlLayout& c : layout_.controls) {
    QWidget* w = controlsInOrder_[index++];
    if ((c.style & kTabStop) == 0 || !w->isEnabled()) continue;
    w->setFocus(Qt::TabFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
    return;
  }
}

int QtDialogWindow::RunLoop() {
  if (endRequested_) return result_;
  inLoop_ = true;
  int result = exec();
  inLoop_ = false;
  return endRequested_ ? result_ : result;
}

}  // namespace tl
