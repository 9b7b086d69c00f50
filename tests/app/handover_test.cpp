// The main dialog's hand-over to the update and its report of the result.
#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "platform/core/layout.h"
#include "tests/support/test_host.h"

namespace tl {
namespace {

using test::TestHost;

constexpr char kFile[] = "S0RT40\r\nS107010041424344ED\r\n";

struct HandOver {
  HandOver() : file(host.registryDir.Write("demo_APP.s19", kFile)) {}
  // The module's lines for the next update dialog.
  void NextUpdate(const std::string& lines) {
    host.OnDialog(kDialogUpdate, [this, lines](HeadlessWindow&) {
      host.net.LastTcp()->Deliver(lines);
    });
  }
  TestHost host;
  std::string file;
};

TEST(HandOver, UnattendedFailureIsStillReported) {
  HandOver h;
  h.NextUpdate("250 Bad image\r\n");
  h.host.OnDialog(kDialogMain, [](HeadlessWindow& w) { w.Press(kIdCancel); });
  MainDialog main("-I10.0.1.5 -F" + h.file + " -A");
  EXPECT_EQ(main.DoModal(), kResultCancel);
  EXPECT_EQ(h.host.Messages(), (std::vector<std::string>{"Error: Bad image", "Update Failed"}));
}

TEST(HandOver, UnattendedSuccessEndsTheProgramSilently) {
  HandOver h;
  h.NextUpdate("102\r\n103\r\n105\r\n106\r\n");
  MainDialog main("-I10.0.1.5 -F" + h.file + " -R -A");
  EXPECT_EQ(main.DoModal(), kResultOk);
  EXPECT_TRUE(h.host.Messages().empty());
}

TEST(HandOver, SuccessIsReportedThenTheMainDialogEndsOk) {
  HandOver h;
  h.NextUpdate("107\r\n");
  h.host.OnDialog(kDialogMain, [](HeadlessWindow& w) { w.Press(kIdOk); });
  MainDialog main("-I10.0.1.5 -F" + h.file);
  EXPECT_EQ(main.DoModal(), kResultOk);
  EXPECT_EQ(h.host.Messages(), (std::vector<std::string>{"Programming Complete without Error."}));
}

TEST(HandOver, FailureLeavesTheMainDialogOpenForAnotherAttempt) {
  HandOver h;
  h.NextUpdate("250 Bad image\r\n");
  h.NextUpdate("106\r\n");
  bool closedBeforeReport = false;
  h.host.ui.hooks().onMessageBox = [&](HeadlessMessageBox& box) {
    // The update dialog, and with it the connection, is gone by then.
    if (box.text == "Update Failed") closedBeforeReport = h.host.net.LastTcp() == nullptr;
    box.Close();
  };
  bool openAfterFailure = false;
  h.host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
    w.Press(kIdOk);
    openAfterFailure = !w.Ended();
    w.Press(kIdOk);
  });
  MainDialog main("-I10.0.1.5 -F" + h.file);
  EXPECT_EQ(main.DoModal(), kResultOk);
  EXPECT_TRUE(openAfterFailure);
  EXPECT_TRUE(closedBeforeReport);
  EXPECT_EQ(h.host.Messages(), (std::vector<std::string>{"Error: Bad image", "Update Failed",
                                                         "Programming Complete without Error."}));
  EXPECT_EQ(h.host.net.tcpConnects, 2);
}

}  // namespace
}  // namespace tl
