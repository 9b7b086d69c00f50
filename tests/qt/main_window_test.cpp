// The program on the Qt host: the main window as the user sees it, its
// keys, its message boxes, the About box and "Browse...". Screenshots of
// the main window and the About box go to <build>/screenshots/.
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QTest>
#include <fstream>

#include "app/application.h"
#include "settings/settings.h"
#include "tests/qt/qt_support.h"

namespace tl::test {
namespace {

std::string Octets(const QtDialogWindow& w) {
  return w.GetText(kIdOctet1) + "." + w.GetText(kIdOctet2) + "." + w.GetText(kIdOctet3) + "." +
         w.GetText(kIdOctet4);
}

void PressKey(QtDialogWindow& w, Qt::Key key) {
  QWidget* target = w.focusWidget() != nullptr ? w.focusWidget() : &w;
  QTest::keyClick(target, key);
}

class MainWindowTest : public QtHostTest {};

TEST_F(MainWindowTest, OpensAtLayoutPositionsInTabOrderAndEscapeEndsWithMinusOne) {
  SaveIpAddress(0x0A000005);
  bool seen = false;
  WhenOpen(kDialogMain, [&](QtDialogWindow& w) {
    seen = true;
    ExpectBuiltFromLayout(w);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("``"));
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(w.windowType(), Qt::Window);  // a task-bar entry, not a dialog of a hidden window
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(Octets(w), "10.0.0.5");
    EXPECT_EQ(w.GetText(kIdFileName), "x_APP.s19");
    EXPECT_TRUE(w.GetCheck(kIdReboot));
    // Focus on the first tab stop, then Tab in table order.
    std::vector<int> order;
    for (int i = 0; i < 10; ++i) {
      order.push_back(w.focusWidget() != nullptr ? w.focusWidget()->property("tideloadId").toInt() : 0);
      PressKey(w, Qt::Key_Tab);
    }
    EXPECT_EQ(order, (std::vector<int>{kIdOk, kIdCancel, kIdOctet1, kIdOctet2, kIdOctet3, kIdOctet4, kIdFind,
                                       kIdBrowse, kIdFileName, kIdReboot}));
    EXPECT_EQ(w.focusWidget(), w.Control(kIdOk));
    SaveScreenshot(w, QStringLiteral("main.png"));
    PressKey(w, Qt::Key_Escape);
  });
  EXPECT_EQ(RunApplication("-Fx_APP.s19 -r"), -1);
  EXPECT_TRUE(seen);
}

// Enter presses "Update": with 0.0.0.0 the user sees the message box, with
// the program's title, a warning icon and one OK button; nothing is stored.
TEST_F(MainWindowTest, EnterWithNoAddressShowsTheMessageBoxAndStoresNothing) {
  bool boxSeen = false;
  WhenOpen(kDialogMain, [&](QtDialogWindow& w) {
    WhenModal<QMessageBox>([&](QMessageBox& box) {
      boxSeen = true;
      EXPECT_EQ(box.text(), QStringLiteral("Invalid IP address "));
      EXPECT_EQ(box.windowTitle(), QStringLiteral("tideload"));
      EXPECT_EQ(box.icon(), QMessageBox::Warning);
      EXPECT_EQ(box.buttons().size(), 1);
      EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
      EXPECT_EQ(box.parentWidget(), &w);
      SaveScreenshot(box, QStringLiteral("message.png"));
      QTest::keyClick(&box, Qt::Key_Return);
      // The window stays open; the close box ends it.
      WhenBackIn(w, [&w] {
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.EndRequested());
        w.close();
      });
    });
    w.Control(kIdOctet4)->setFocus();
    PressKey(w, Qt::Key_Return);
  });
  EXPECT_EQ(RunApplication(""), -1);
  EXPECT_TRUE(boxSeen);
  EXPECT_EQ(LoadIpAddress(), 0u);
}

// A bad octet: the message, then the focus on that box with its text selected.
TEST_F(MainWindowTest, BadOctetGetsFocusAndSelectionAfterTheMessage) {
  QString selected;
  QString focused;
  WhenOpen(kDialogMain, [&](QtDialogWindow& w) {
    w.SetText(kIdOctet1, "10");
    w.SetText(kIdOctet2, "256");
    WhenModal<QMessageBox>([&](QMessageBox& box) {
      EXPECT_EQ(box.text(), QStringLiteral("Please enter an integer between 0 and 255."));
      box.button(QMessageBox::Ok)->click();
      WhenBackIn(w, [&] {
        focused = w.focusWidget() != nullptr ? w.focusWidget()->objectName() : QString();
        selected = qobject_cast<QLineEdit*>(w.Control(kIdOctet2))->selectedText();
        QTest::mouseClick(w.Control(kIdCancel), Qt::LeftButton);
      });
    });
    QTest::mouseClick(w.Control(kIdOk), Qt::LeftButton);
  });
  EXPECT_EQ(RunApplication(""), -1);
  EXPECT_EQ(selected, QStringLiteral("256"));
  EXPECT_EQ(focused, QStringLiteral("control1001"));
}

// F1 opens the About box over the blocked main window; its OK closes it and
// the main window takes input again.
TEST_F(MainWindowTest, F1OpensTheAboutBox) {
  bool aboutSeen = false;
  WhenOpen(kDialogMain, [&](QtDialogWindow& main) {
    WhenOpen(kDialogAbout, [&](QtDialogWindow& about) {
      aboutSeen = true;
      ExpectBuiltFromLayout(about);
      EXPECT_EQ(about.windowTitle(), QStringLiteral("About Tideload"));
      EXPECT_EQ(QApplication::activeModalWidget(), &about);
      EXPECT_EQ(about.parentWidget(), &main);
      EXPECT_EQ(about.windowType(), Qt::Dialog);
      EXPECT_TRUE(main.isVisible());
      SaveScreenshot(about, QStringLiteral("about.png"));
      PressKey(about, Qt::Key_Return);
      WhenBackIn(main, [&main] {
        EXPECT_EQ(QApplication::activeModalWidget(), &main);
        QTest::mouseClick(main.Control(kIdCancel), Qt::LeftButton);
      });
    });
    PressKey(main, Qt::Key_F1);
  });
  EXPECT_EQ(RunApplication(""), -1);
  EXPECT_TRUE(aboutSeen);
}

// "Browse...": the one filter, shown as its description, the chosen full
// path into the box and the store; the next time the stored file's folder opens with it selected.
TEST_F(MainWindowTest, BrowseOffersTheFilterAndStartsAtTheLastFile) {
  TempDir files;
  std::string chosen = files.Write("unit_APP.s19", "S0030000FC\n");
  files.Write("notes.txt", "x");
  QStringList filters;
  QStringList preselected;
  QString secondDirectory;
  WhenOpen(kDialogMain, [&](QtDialogWindow& w) {
    WhenModal<QFileDialog>([&](QFileDialog& dialog) {
      auto* shownFilter = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
      ASSERT_NE(shownFilter, nullptr);
      filters = QStringList{shownFilter->currentText()};
      auto* model = dialog.findChild<QFileSystemModel*>();
      ASSERT_NE(model, nullptr);
      filters += model->nameFilters();
      SaveScreenshot(dialog, QStringLiteral("browse.png"));
      dialog.selectFile(QString::fromStdString(chosen));
      static_cast<QDialog&>(dialog).accept();
      WhenBackIn(w, [&] {
        EXPECT_EQ(w.GetText(kIdFileName), chosen);
        EXPECT_EQ(LoadFileDir(), chosen);
        WhenModal<QFileDialog>([&](QFileDialog& again) {
          secondDirectory = again.directory().absolutePath();
          preselected = again.selectedFiles();
          again.reject();
          WhenBackIn(w, [&] {
            EXPECT_EQ(w.GetText(kIdFileName), chosen);
            QTest::mouseClick(w.Control(kIdCancel), Qt::LeftButton);
          });
        });
        w.SetText(kIdFileName, "typed");
        w.SetText(kIdFileName, chosen);
        QTest::mouseClick(w.Control(kIdBrowse), Qt::LeftButton);
      });
    });
    QTest::mouseClick(w.Control(kIdBrowse), Qt::LeftButton);
  });
  EXPECT_EQ(RunApplication(""), -1);
  // The description as the layout gives it; the pattern alone filters.
  EXPECT_EQ(filters, (QStringList{QStringLiteral("Application Files *_APP.s19"), QStringLiteral("*_APP.s19")}));
  EXPECT_EQ(secondDirectory, QString::fromStdString(files.Path().string()));
  EXPECT_EQ(preselected, QStringList{QString::fromStdString(chosen)});
}

TEST(ProgramTitle, IsTheExecutableNameWithoutExtension) {
  EXPECT_EQ(ProgramTitleOf("/usr/local/bin/tideload"), "tideload");
  EXPECT_EQ(ProgramTitleOf("build/tideload.exe"), "tideload");
  EXPECT_EQ(ProgramTitleOf("my.tool.bin"), "my.tool");
  EXPECT_EQ(ProgramTitleOf("/opt/.hidden"), ".hidden");
  const char* argv[] = {"tideload", "-I10.0.0.5", "-FC:\\a b", "-R"};
  EXPECT_EQ(ArgumentTextOf(4, argv), "-I10.0.0.5 -FC:\\a b -R");
  EXPECT_EQ(ArgumentTextOf(1, argv), "");
}

// TIDELOAD_SCREENSHOT_DIR: every window and box grabs itself once shown.
TEST_F(MainWindowTest, ScreenshotFolderReceivesEveryWindowAndBox) {
  TempDir shots;
  qputenv("TIDELOAD_SCREENSHOT_DIR", QByteArray::fromStdString(shots.Path().string()));
  QSize mainSize;
  auto written = [&shots](const char* name) {
    return [&shots, name] { return QFile::exists(QString::fromStdString(shots.File(name))); };
  };
  WhenOpen(kDialogMain, [&](QtDialogWindow& w) {
    mainSize = w.size();
    When(written("102-1.png"), [&] {
      WhenModal<QMessageBox>([&](QMessageBox& box) {
        When(written("message-1.png"), [&box] { box.accept(); });
        WhenBackIn(w, [&w] { w.close(); });
      });
      QTest::mouseClick(w.Control(kIdOk), Qt::LeftButton);
    });
  });
  EXPECT_EQ(RunApplication(""), -1);
  qunsetenv("TIDELOAD_SCREENSHOT_DIR");
  QImage main(QString::fromStdString(shots.File("102-1.png")));
  EXPECT_FALSE(main.isNull());
  EXPECT_EQ(main.size(), mainSize);
  EXPECT_FALSE(QImage(QString::fromStdString(shots.File("message-1.png"))).isNull());
}

}  // namespace
}  // namespace tl::test
