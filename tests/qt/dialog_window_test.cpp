// The generic dialog: geometry from dialog units, controls, tab order,
// timers, nested loops and the moment an ending takes effect.
#include <QCheckBox>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "platform/core/code_page.h"
#include "platform/core/layout.h"
#include "platform/qt/dialog_units.h"
#include "platform/qt/qt_pictures.h"
#include "tests/qt/qt_support.h"

namespace tl::test {
namespace {

TEST(DialogUnits, RoundLikeTheDialogManager) {
  EXPECT_EQ(MulDiv(7, 6, 4), 11);  // 10.5 rounds up
  EXPECT_EQ(MulDiv(5, 6, 4), 8);   // 7.5
  EXPECT_EQ(MulDiv(9, 6, 4), 14);  // 13.5
  EXPECT_EQ(MulDiv(71, 13, 8), 115);
  EXPECT_EQ(MulDiv(3, 13, 8), 5);   // 4.875
  EXPECT_EQ(MulDiv(-7, 6, 4), -11);  // half away from zero
  EXPECT_EQ(MulDiv(1, 1, 0), -1);

  // "MS Sans Serif" 8 pt has base units 6 x 13 on a 96-dpi screen: the main
  // dialog's 252 x 71 then is 378 x 115 pixels.
  DialogBaseUnits base{6, 13};
  EXPECT_EQ(MapDialogSize(base, 252, 71), QSize(378, 115));
  EXPECT_EQ(MapDialogRect(base, 47, 7, 26, 12), QRect(71, 11, 39, 20));
  // Each value is rounded on its own, not the right edge.
  EXPECT_EQ(MapDialogRect(base, 7, 9, 7, 9), QRect(11, 15, 11, 15));
}

TEST(DialogUnits, BaseUnitsFollowTheFont) {
  QFont font = DialogFont(*FindDialogLayout(kDialogMain));
  EXPECT_EQ(font.pointSize(), 8);
  DialogBaseUnits base = BaseUnitsOf(font);
  QFontMetrics metrics(font);
  EXPECT_EQ(base.y, metrics.ascent() + metrics.descent());
  // The average letter width, rounded to the nearest pixel.
  double average = metrics.horizontalAdvance(QStringLiteral(
                       "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                   52.0;
  EXPECT_NEAR(base.x, average, 0.5 + 1.0 / 52);
  QFont larger = font;
  larger.setPointSize(16);
  DialogBaseUnits doubled = BaseUnitsOf(larger);
  EXPECT_NEAR(doubled.x, 2 * base.x, 2);
  EXPECT_NEAR(doubled.y, 2 * base.y, 3);
}

class DialogWindowTest : public QtHostTest {};

// Every layout: client size and every control at its converted place, with
// the kind of widget its kind asks for.
TEST_F(DialogWindowTest, EveryLayoutIsBuiltAtItsDialogUnitPositions) {
  for (int layoutId : {kDialogAbout, kDialogMain, kDialogFind, kDialogUpdate, kDialogCredentials}) {
    SCOPED_TRACE(layoutId);
    ScriptedDialog dialog(layoutId);
    bool checked = false;
    WhenOpen(layoutId, [&](QtDialogWindow& w) {
      ExpectBuiltFromLayout(w);
      checked = true;
      SaveScreenshot(w, QStringLiteral("layout-%1.png").arg(layoutId));
      dialog.EndDialog(kResultCancel);
    });
    EXPECT_EQ(dialog.DoModal(), kResultCancel);
    EXPECT_TRUE(checked);
  }
}

// Tab walks the tab stops in table order and wraps; the first one has the
// focus when the dialog opens.
TEST_F(DialogWindowTest, TabOrderIsTableOrder) {
  for (int layoutId : {kDialogMain, kDialogCredentials, kDialogFind}) {
    SCOPED_TRACE(layoutId);
    const DialogLayout& layout = *FindDialogLayout(layoutId);
    std::vector<QWidget*> expected;
    ScriptedDialog dialog(layoutId);
    std::vector<QWidget*> visited;
    WhenOpen(layoutId, [&](QtDialogWindow& w) {
      for (std::size_t i = 0; i < layout.controls.size(); ++i) {
        if ((layout.controls[i].style & kTabStop) != 0) expected.push_back(w.ControlAt(i));
      }
      for (std::size_t n = 0; n <= expected.size(); ++n) {
        visited.push_back(w.focusWidget());
        QTest::keyClick(w.focusWidget(), Qt::Key_Tab);
      }
      dialog.EndDialog(kResultCancel);
    });
    dialog.DoModal();
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(visited.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(visited[i], expected[i]) << i;
    EXPECT_EQ(visited.back(), expected.front());
  }
}

// Controls as the core sees them: texts with their exact bytes, the digits
// filter, check box, enabling, the progress range, focus and selection.
TEST_F(DialogWindowTest, ControlsKeepWhatTheCoreAndTheUserPutIn) {
  ScriptedDialog dialog(kDialogMain);
  WhenOpen(kDialogMain, [&](QtDialogWindow& w) {
    // Bytes that are not UTF-8 come back unchanged while the box is untouched.
    std::string latin1 = "C:\\m\xfc" "ller\\x_APP.s19";
    w.SetText(kIdFileName, latin1);
    EXPECT_EQ(w.GetText(kIdFileName), latin1);
    EXPECT_EQ(qobject_cast<QLineEdit*>(w.Control(kIdFileName))->text(),
              QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size())));
    w.SetText(kIdFileName, "/tmp/\xc3\xa9t\xc3\xa9_APP.s19");
    EXPECT_EQ(qobject_cast<QLineEdit*>(w.Control(kIdFileName))->text(),
              QString::fromUtf8("/tmp/\xc3\xa9t\xc3\xa9_APP.s19"));

    auto* octet = qobject_cast<QLineEdit*>(w.Control(kIdOctet1));
    octet->clear();
    octet->setFocus();
    QTest::keyClicks(octet, "1a9-2");
    EXPECT_EQ(w.GetText(kIdOctet1), "192");
    // Typing replaces what the core put in, even with the same bytes shown.
    w.SetText(kIdOctet2, "7");
    qobject_cast<QLineEdit*>(w.Control(kIdOctet2))->setText("8");
    EXPECT_EQ(w.GetText(kIdOctet2), "8");

    EXPECT_FALSE(w.GetCheck(kIdReboot));
    QTest::mouseClick(w.Control(kIdReboot), Qt::LeftButton);
    EXPECT_TRUE(w.GetCheck(kIdReboot));
    w.SetCheck(kIdReboot, false);
    EXPECT_FALSE(qobject_cast<QCheckBox*>(w.Control(kIdReboot))->isChecked());

    w.EnableControl(kIdFind, false);
    EXPECT_FALSE(w.IsControlEnabled(kIdFind));
    EXPECT_FALSE(w.Control(kIdFind)->isEnabled());
    w.EnableControl(kIdFind, true);
    EXPECT_TRUE(w.IsControlEnabled(kIdFind));

    w.SetText(kIdOctet3, "250");
    w.FocusAndSelectAll(kIdOctet3);
    EXPECT_EQ(w.focusWidget(), w.Control(kIdOctet3));
    EXPECT_EQ(qobject_cast<QLineEdit*>(w.Control(kIdOctet3))->selectedText(), QStringLiteral("250"));
    dialog.EndDialog(kResultCancel);
  });
  EXPECT_EQ(dialog.DoModal(), kResultCancel);
}

TEST_F(DialogWindowTest, ProgressPositionsArePinnedToTheRange) {
  ScriptedDialog dialog(kDialogUpdate);
  dialog.onInit = [&] {
    DialogWindow& w = *dialog.Window();
    auto* bar = qobject_cast<QProgressBar*>(dialog.QtWindow()->Control(kIdProgress));
    EXPECT_FALSE(bar->isTextVisible());
    w.SetProgressRange(kIdProgress, 0, 100);
    w.SetProgressPos(kIdProgress, 42);
    EXPECT_EQ(bar->value(), 42);
    w.SetProgressPos(kIdProgress, 250);
    EXPECT_EQ(bar->value(), 100);
    w.SetProgressPos(kIdProgress, -5);
    EXPECT_EQ(bar->value(), 0);
    dialog.EndDialog(kResultCancel);
    return true;
  };
  dialog.DoModal();
}

// The tree: items in insertion order under their parents, labels, state
// images cut from the strip (0 shows none), item data, selection, clearing,
// branch lines.
TEST_F(DialogWindowTest, TreeItemsCarryTextStateImageAndData) {
  ScriptedDialog dialog(kDialogFind);
  auto check = [&] {
    QtDialogWindow& w = *dialog.QtWindow();
    auto* tree = qobject_cast<QTreeWidget*>(w.Control(kIdDeviceTree));
    w.TreeSetStateImages(kIdDeviceTree, kBitmapStateImages);
    EXPECT_EQ(w.TreeSelected(kIdDeviceTree), 0u);
    int a = 1, b = 2, c = 3;
    TreeItem first = w.TreeInsertLast(kIdDeviceTree, kTreeRoot, "alpha  at 10.0.0.5 running app");
    TreeItem second = w.TreeInsertLast(kIdDeviceTree, kTreeRoot, "beta");
    TreeItem child = w.TreeInsertLast(kIdDeviceTree, second, "Ethernet at 10.0.0.6");
    EXPECT_EQ(w.TreeInsertLast(kIdDeviceTree, 999, "orphan"), 0u);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    w.TreeSetData(kIdDeviceTree, first, &a);
    w.TreeSetData(kIdDeviceTree, second, &b);
    w.TreeSetData(kIdDeviceTree, child, &c);
    w.TreeSetText(kIdDeviceTree, second, "beta running app");
    w.TreeSetStateImage(kIdDeviceTree, first, 3);
    w.TreeSetStateImage(kIdDeviceTree, second, 1);
    w.TreeSetStateImage(kIdDeviceTree, child, 0);

    EXPECT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("alpha  at 10.0.0.5 running app"));
    EXPECT_EQ(tree->topLevelItem(1)->text(0), QStringLiteral("beta running app"));
    ASSERT_EQ(tree->topLevelItem(1)->childCount(), 1);
    EXPECT_EQ(tree->topLevelItem(1)->child(0)->text(0), QStringLiteral("Ethernet at 10.0.0.6"));
    EXPECT_EQ(w.TreeGetData(kIdDeviceTree, child), &c);
    EXPECT_EQ(w.TreeGetData(kIdDeviceTree, first), &a);

    std::vector<QPixmap> strip = StripImages(kBitmapStateImages);
    ASSERT_EQ(strip.size(), 8u);
    QImage shown = tree->topLevelItem(0)->icon(0).pixmap(16, 16).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, strip[3].toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_NE(shown, strip[2].toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(tree->topLevelItem(1)->child(0)->icon(0).isNull());

    w.TreeSelect(kIdDeviceTree, child);
    EXPECT_EQ(w.TreeSelected(kIdDeviceTree), child);
    EXPECT_EQ(tree->currentItem(), tree->topLevelItem(1)->child(0));
    // The user's click selects too.
    QRect rect = tree->visualItemRect(tree->topLevelItem(0));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(w.TreeSelected(kIdDeviceTree), first);

    w.TreeDeleteAll(kIdDeviceTree);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    EXPECT_EQ(w.TreeSelected(kIdDeviceTree), 0u);
    EXPECT_EQ(w.TreeGetData(kIdDeviceTree, first), nullptr);
    // Old handles are dead; new ones are fresh.
    TreeItem again = w.TreeInsertLast(kIdDeviceTree, kTreeRoot, "gamma");
    EXPECT_NE(again, first);
    EXPECT_EQ(w.TreeInsertLast(kIdDeviceTree, second, "late child"), 0u);

    // A picture of a filled tree, for the eye.
    TreeItem group = w.TreeInsertLast(kIdDeviceTree, kTreeRoot, "QELM-200 running Gateway");
    w.TreeSetStateImage(kIdDeviceTree, group, 1);
    const char* labels[] = {"Ethernet at 10.0.0.5", "Ethernet DHCP'd at 10.0.0.6", "WiFi at 10.0.0.7",
                            "WiFi at 10.0.0.8"};
    for (int i = 0; i < 4; ++i) {
      TreeItem item = w.TreeInsertLast(kIdDeviceTree, group, labels[i]);
      w.TreeSetStateImage(kIdDeviceTree, item, 2 + i);
    }
    w.TreeSetStateImage(kIdDeviceTree, again, 2);
    tree->expandAll();
    w.TreeSelect(kIdDeviceTree, again);
    // Dotted lines join each child to its group's line.
    QImage view = tree->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb base = tree->palette().color(QPalette::Base).rgb();
    QTreeWidgetItem* groupItem = w.TreeWidgetItem(kIdDeviceTree, group);
    for (int i = 0; i < groupItem->childCount(); ++i) {
      QRect row = tree->visualItemRect(groupItem->child(i));
      int marked = 0;
      for (int x = row.left() - tree->indentation(); x < row.left(); ++x) {
        for (int y = row.top(); y <= row.bottom(); ++y) marked += view.pixel(x, y) != base ? 1 : 0;
      }
      EXPECT_GT(marked, 4) << "no branch line left of child " << i;
    }
    SaveScreenshot(w, QStringLiteral("find-tree.png"));
  };
  dialog.onInit = [&] {
    check();
    dialog.EndDialog(kResultCancel);
    return true;
  };
  dialog.DoModal();
}

// Module texts read one character per byte in the code page, as the console
// prints them, even when they happen to be valid UTF-8.
TEST_F(DialogWindowTest, TreeLabelsAndMessagesReadTheCodePage) {
  struct Case {
    const char* bytes;
    const char16_t* shown;
  };
  const Case cases[] = {
      {"Caf\xc3\xa9", u"Caf\u00c3\u00a9"},  // valid UTF-8, still two characters
      {"\x80 \x9f \xe9", u"\u20ac \u0178 \u00e9"},
      {"\x81\x8d\x8f\x90\x9d", u"\u0081\u008d\u008f\u0090\u009d"},  // undefined: Latin-1
  };
  ScriptedDialog dialog(kDialogFind);
  std::vector<QString> boxes;
  dialog.onInit = [&] {
    QtDialogWindow& w = *dialog.QtWindow();
    auto* tree = qobject_cast<QTreeWidget*>(w.Control(kIdDeviceTree));
    for (const Case& c : cases) {
      QString shown = QString::fromStdU16String(c.shown);
      EXPECT_EQ(shown, QString::fromStdString(Cp1252ToUtf8(c.bytes)));
      TreeItem item = w.TreeInsertLast(kIdDeviceTree, kTreeRoot, c.bytes);
      EXPECT_EQ(w.TreeWidgetItem(kIdDeviceTree, item)->text(0), shown) << c.bytes;
      w.TreeSetText(kIdDeviceTree, item, std::string("x") + c.bytes);
      EXPECT_EQ(w.TreeWidgetItem(kIdDeviceTree, item)->text(0), QStringLiteral("x") + shown) << c.bytes;
      WhenModal<QMessageBox>([&](QMessageBox& box) {
        boxes.push_back(box.text());
        box.accept();
      });
      ShowMessage(c.bytes);
    }
    EXPECT_EQ(tree->topLevelItemCount(), 3);
    dialog.EndDialog(kResultCancel);
    return true;
  };
  dialog.DoModal();
  ASSERT_EQ(boxes.size(), 3u);
  for (std::size_t i = 0; i < boxes.size(); ++i) EXPECT_EQ(boxes[i], QString::fromStdU16String(cases[i].shown));
}

// Buttons reach OnCommand; Enter in an edit presses the default button;
// Escape and the close box reach OnCancel, which decides.
TEST_F(DialogWindowTest, ButtonsEnterEscapeAndCloseGoToTheCore) {
  ScriptedDialog dialog(kDialogCredentials);
  int oks = 0;
  int cancels = 0;
  dialog.onOk = [&] { ++oks; };
  dialog.onCancel = [&] { ++cancels; };
  WhenOpen(kDialogCredentials, [&](QtDialogWindow& w) {
    QTest::mouseClick(w.Control(kIdOk), Qt::LeftButton);
    EXPECT_EQ(oks, 1);
    w.Control(kIdUserName)->setFocus();
    QTest::keyClick(w.Control(kIdUserName), Qt::Key_Return);
    EXPECT_EQ(oks, 2);
    QTest::keyClick(w.Control(kIdUserName), Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    QTest::mouseClick(w.Control(kIdCancel), Qt::LeftButton);
    EXPECT_EQ(cancels, 2);
    // The close box: the core said no, so the window stays.
    w.close();
    EXPECT_EQ(cancels, 3);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.EndRequested());
    dialog.onCancel = [&] {
      ++cancels;
      dialog.EndDialog(kResultCancel);
    };
    w.close();
    EXPECT_EQ(cancels, 4);
  });
  EXPECT_EQ(dialog.DoModal(), kResultCancel);
}

// A timer keeps ticking while a message box opened by its own tick is up;
// the ticks arrive re-entrantly and the box still closes normally.
TEST_F(DialogWindowTest, TimerTicksWhileAMessageBoxIsOpen) {
  ScriptedDialog dialog(kDialogUpdate);
  int ticks = 0;
  int ticksWhileBoxOpen = 0;
  int ticksAtKill = -1;
  bool boxOpen = false;
  dialog.onInit = [&] {
    EXPECT_EQ(dialog.Window()->SetTimer(1, 10), 1u);
    return true;
  };
  dialog.onTimer = [&](unsigned id) {
    EXPECT_EQ(id, 1u);
    ++ticks;
    if (boxOpen) {
      ++ticksWhileBoxOpen;
      return;
    }
    if (ticks == 1) {
      boxOpen = true;
      ShowMessage("Timed out");
      boxOpen = false;
      dialog.Window()->KillTimer(1);
      ticksAtKill = ticks;
      // Three periods of a like timer later no tick has come, neither one
      // posted before the kill nor a later one.
      auto* witness = new QTimer(dialog.QtWindow());
      QObject::connect(witness, &QTimer::timeout, [&dialog, witness, periods = 0]() mutable {
        if (++periods < 3) return;
        witness->stop();
        dialog.EndDialog(kResultOk);
      });
      witness->start(10);
    }
  };
  When([&] { return ticksWhileBoxOpen >= 3; }, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Timed out"));
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(dialog.DoModal(), kResultOk);
  EXPECT_GE(ticksWhileBoxOpen, 3);
  EXPECT_EQ(ticks, ticksAtKill);
}

// An ending asked for while a nested loop runs (a message box or a child
// dialog) waits until control is back in the dialog's own loop.
TEST_F(DialogWindowTest, EndingInsideANestedLoopWaitsForTheDialogsOwnLoop) {
  ScriptedDialog dialog(kDialogUpdate);
  bool afterBox = false;
  bool stillOpenAfterEnd = false;
  dialog.onTimer = [&](unsigned) {
    dialog.Window()->KillTimer(1);
    ShowMessage("first");
    afterBox = true;
  };
  dialog.onInit = [&] {
    dialog.Window()->SetTimer(1, 5);
    return true;
  };
  WhenModal<QMessageBox>([&](QMessageBox& box) {
    // The module's error line ends the dialog while the box is open.
    dialog.EndDialog(kResultCancel);
    QtDialogWindow* w = dialog.QtWindow();
    stillOpenAfterEnd = w->isVisible() && w->InLoop();
    box.button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(dialog.DoModal(), kResultCancel);
  EXPECT_TRUE(stillOpenAfterEnd);
  EXPECT_TRUE(afterBox);

  // The same with a child dialog: the parent's ending waits for the child.
  ScriptedDialog parent(kDialogUpdate);
  ScriptedDialog child(kDialogCredentials, &parent);
  int childResult = 0;
  bool parentVisibleWhileChild = false;
  parent.onInit = [&] {
    parent.Window()->SetTimer(1, 5);
    return true;
  };
  parent.onTimer = [&](unsigned) {
    parent.Window()->KillTimer(1);
    childResult = child.DoModal();
  };
  WhenOpen(kDialogCredentials, [&](QtDialogWindow& w) {
    EXPECT_EQ(QApplication::activeModalWidget(), &w);
    EXPECT_EQ(w.parentWidget(), parent.QtWindow());
    parent.EndDialog(kResultCancel);
    parentVisibleWhileChild = parent.QtWindow()->isVisible();
    child.EndDialog(kResultOk);
  });
  EXPECT_EQ(parent.DoModal(), kResultCancel);
  EXPECT_EQ(childResult, kResultOk);
  EXPECT_TRUE(parentVisibleWhileChild);
}

// Ending during OnInitDialog: the window is never shown and no loop runs.
TEST_F(DialogWindowTest, EndingDuringInitialisationNeverShowsTheWindow) {
  ScriptedDialog dialog(kDialogMain);
  int shows = 0;
  struct ShowCounter : QObject {
    int* count;
    explicit ShowCounter(int* c) : count(c) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Show) ++*count;
      return false;
    }
  } counter(&shows);
  dialog.onInit = [&] {
    dialog.QtWindow()->installEventFilter(&counter);
    // Nested work during start-up (the unattended update) runs normally.
    When([] { return QApplication::activeModalWidget() != nullptr; }, [] {
      qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->button(QMessageBox::Ok)->click();
    });
    ShowMessage("during start-up");
    dialog.EndDialog(kResultOk);
    return true;
  };
  EXPECT_EQ(dialog.DoModal(), kResultOk);
  EXPECT_EQ(shows, 0);
  EXPECT_TRUE(Ui().Windows().empty());
}

// The system menu's items: a context menu on the window and F1.
TEST_F(DialogWindowTest, SystemMenuItemsAreAContextMenuAndF1) {
  ScriptedDialog dialog(kDialogMain);
  std::vector<unsigned> commands;
  dialog.onSysCommand = [&](unsigned id) { commands.push_back(id); };
  dialog.onInit = [&] {
    EXPECT_TRUE(dialog.Window()->HasSystemMenu());
    dialog.Window()->AppendSystemMenu(0, "");
    dialog.Window()->AppendSystemMenu(16, "&About Tideload...");
    return true;
  };
  WhenOpen(kDialogMain, [&](QtDialogWindow& w) {
    QTest::keyClick(w.focusWidget(), Qt::Key_F1);
    EXPECT_EQ(commands, std::vector<unsigned>{16});
    When([] { return QApplication::activePopupWidget() != nullptr; }, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      QList<QAction*> actions = menu->actions();
      ASSERT_EQ(actions.size(), 1);  // no leading separator
      EXPECT_EQ(actions[0]->text(), QStringLiteral("&About Tideload..."));
      menu->setActiveAction(actions[0]);
      QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), w.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&w, &event);
    EXPECT_EQ(commands, (std::vector<unsigned>{16, 16}));
    dialog.EndDialog(kResultCancel);
  });
  dialog.DoModal();

  ScriptedDialog about(kDialogAbout);
  about.onInit = [&] {
    EXPECT_TRUE(about.Window()->HasSystemMenu());
    about.EndDialog(kResultOk);
    return true;
  };
  about.DoModal();
}

TEST_F(DialogWindowTest, IconResourceBecomesTheWindowIcon) {
  ScriptedDialog dialog(kDialogMain);
  dialog.onInit = [&] {
    dialog.Window()->SetIcon(kIconApp, true);
    QIcon icon = dialog.QtWindow()->windowIcon();
    EXPECT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32),
              IconPixmap(kIconApp).toImage().convertToFormat(QImage::Format_ARGB32));
    dialog.EndDialog(kResultOk);
    return true;
  };
  dialog.DoModal();
}

}  // namespace
}  // namespace tl::test
