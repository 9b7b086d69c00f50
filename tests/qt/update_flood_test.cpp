// The desktop program's update against a module that floods it: the window
// keeps answering the keyboard.
#include <sys/socket.h>
#include <unistd.h>

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

class UpdateFloodTest : public QtHostTest {};

TEST_F(UpdateFloodTest, EscapeEndsTheUpdateWhileTheModuleKeepsSending) {
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

}  // namespace
}  // namespace tl::test
