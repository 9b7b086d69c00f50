// The desktop program's update against modules played in the test: one that
// floods it (the window keeps answering the keyboard), one whose error comes
// right after its end (the box says why the update failed).
#include <sys/socket.h>
#include <unistd.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "tests/qt/qt_support.h"
#include "tests/support/module_listener.h"
#include "tests/support/srecord_text.h"
#include "update/update_dialog.h"

namespace tl::test {
namespace {

class UpdateWindowTest : public QtHostTest {};

TEST_F(UpdateWindowTest, EscapeEndsTheUpdateWhileTheModuleKeepsSending) {
  ModuleListener listener;
  ASSERT_NE(listener.Address(), 0u);
  const std::string file = registryDir_.Path().string() + "/flood_APP.s19";
  std::ofstream(file, std::ios::binary) << SRecordText("RT40", 0x1000, "ABCDEFGH");

  // The module accepts and sends bytes that never end a line, for as long
  // as the program takes them.
  std::atomic<std::size_t> sent{0};
  std::thread module([&] {
    const int fd = ::accept(listener.Fd(), nullptr, nullptr);
    if (fd < 0) return;
    const std::string chunk(64 * 1024, 'x');
    for (;;) {
      const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });

  {
    UpdateDialog update(file, listener.Address(), 0, nullptr);
    // Escape once the flood is well under way.
    When([&] { return sent.load() > (8u << 20) && OpenWindow(kDialogUpdate) != nullptr; },
         [&] { QTest::keyClick(OpenWindow(kDialogUpdate), Qt::Key_Escape); });
    EXPECT_EQ(update.DoModal(), kResultCancel);
  }  // the connection closes, which ends the module's flood
  module.join();
}

TEST_F(UpdateWindowTest, AnErrorRightAfterTheEndShowsItsBoxAndTheUpdateFails) {
  ModuleListener listener;
  ASSERT_NE(listener.Address(), 0u);
  const std::string file = registryDir_.Path().string() + "/late_APP.s19";
  std::ofstream(file, std::ios::binary) << SRecordText("RT40", 0x1000, "ABCDEFGH");
  std::thread module([&] {
    const int fd = ::accept(listener.Fd(), nullptr, nullptr);
    if (fd < 0) return;
    const std::string lines = "106 Programming done\r\n250 Late error\r\n";
    ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL);
    char c;
    while (::recv(fd, &c, 1, 0) > 0) {
    }
    ::close(fd);
  });
  std::string shown;
  WhenModal<QMessageBox>([&](QMessageBox& box) {
    shown = box.text().toStdString();
    box.button(QMessageBox::Ok)->click();
  });
  {
    UpdateDialog update(file, listener.Address(), 0, nullptr);
    EXPECT_EQ(update.DoModal(), kResultCancel);
  }
  module.join();
  EXPECT_EQ(shown, "Error: Late error");
}

}  // namespace
}  // namespace tl::test
