#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include "app/application.h"
#include "settings/settings.h"
#include "tests/support/test_host.h"

namespace tl {
namespace {

using test::TestHost;

void FillOctets(HeadlessWindow& w, const char* a, const char* b, const char* c, const char* d) {
  w.Type(kIdOctet1, a);
  w.Type(kIdOctet2, b);
  w.Type(kIdOctet3, c);
  w.Type(kIdOctet4, d);
}

TEST(MainDialog, StoredAddressShowsAndCommandLineOverridesIt) {
  TestHost host;
  SaveIpAddress(0xC0A80114);
  std::string shown;
  host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
    shown = w.GetText(kIdOctet1) + "." + w.GetText(kIdOctet2) + "." + w.GetText(kIdOctet3) + "." +
            w.GetText(kIdOctet4);
    w.Press(kIdCancel);
  });
  MainDialog plain("");
  EXPECT_EQ(plain.DoModal(), kResultCancel);
  EXPECT_EQ(shown, "192.168.1.20");

  host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
    shown = w.GetText(kIdOctet1) + "." + w.GetText(kIdOctet4) + " " + w.GetText(kIdFileName) +
            (w.GetCheck(kIdReboot) ? " reboot" : "");
    w.Close();
  });
  MainDialog given("-i10.0.0.5 -fC:\\apps\\x_APP.s19 -R");
  EXPECT_EQ(given.DoModal(), kResultCancel);
  EXPECT_EQ(shown, "10.5 C:\\apps\\x_APP.s19 reboot");

  // An -I that yields 0 hides the stored address.
  MainDialog zero("-Inothing");
  EXPECT_EQ(zero.ipOctets, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

TEST(MainDialog, TakingInStopsAtTheFirstBadBox) {
  TestHost host;
  MainDialog dialog("-Fkeep_APP.s19");
  dialog.ipOctets = {1, 2, 3, 4};
  HeadlessWindow* window = nullptr;
  host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
    window = &w;
    FillOctets(w, " 10", "256", "x", "7");
    w.Type(kIdFileName, "changed_APP.s19");
    w.Press(kIdOk);
    EXPECT_EQ(w.Focus(), kIdOctet2);
    EXPECT_TRUE(w.WholeTextSelected());
    EXPECT_FALSE(w.Ended());
    // An empty box and a box without a number fail the same way.
    FillOctets(w, "10", "", "3", "4");
    w.Press(kIdOk);
    EXPECT_EQ(w.Focus(), kIdOctet2);
    FillOctets(w, "10", "20", "-3", "4");
    w.Press(kIdOk);
    EXPECT_EQ(w.Focus(), kIdOctet3);
    w.Press(kIdCancel);
  });
  EXPECT_EQ(dialog.DoModal(), kResultCancel);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(host.Messages(), std::vector<std::string>(3, "Please enter an integer between 0 and 255."));
  // The boxes before the bad one were taken in; the rest kept their values.
  EXPECT_EQ(dialog.ipOctets, (std::array<std::uint8_t, 4>{10, 20, 3, 4}));
  EXPECT_EQ(dialog.fileName, "keep_APP.s19");
  EXPECT_EQ(LoadIpAddress(), 0u);
}

TEST(MainDialog, ZeroAddressIsRefusedAndNothingSaved) {
  TestHost host;
  SaveIpAddress(0x0A000001);
  host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
    FillOctets(w, "0", "0", "0", "0");
    w.Press(kIdOk);
    EXPECT_FALSE(w.Ended());
    FillOctets(w, "0", "0", "0", "1 trailing text");
    w.Press(kIdOk);  // accepted: stored before the transfer
    w.Press(kIdCancel);
  });
  MainDialog dialog("");
  EXPECT_EQ(dialog.DoModal(), kResultCancel);
  // The accepted address went on to the update, which had no file to load.
  EXPECT_EQ(host.Messages(),
            (std::vector<std::string>{"Invalid IP address ", "Failed to open file", "Update Failed"}));
  EXPECT_EQ(LoadIpAddress(), 1u);
}

TEST(MainDialog, UnattendedWithoutAddressOpensForInput) {
  TestHost host;
  bool shown = false;
  host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
    shown = true;
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Invalid IP address "});
    EXPECT_EQ(w.Focus(), kIdOk);  // the first tab stop
    w.Press(kIdCancel);
  });
  MainDialog dialog("-A -Fx_APP.s19");
  EXPECT_EQ(dialog.DoModal(), kResultCancel);
  EXPECT_TRUE(shown);
}

TEST(MainDialog, BrowseStoresTheFullPathAndStartsThereNextTime) {
  TestHost host;
  std::vector<std::string> answers = {"/data/build/demo_APP.s19"};
  host.ui.hooks().onOpenFile = [&](const OpenFileRequest&) -> std::optional<std::string> {
    if (answers.empty()) return std::nullopt;
    std::string a = answers.front();
    answers.erase(answers.begin());
    return a;
  };
  std::string shownAfterCancel;
  host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
    w.Type(kIdFileName, "typed_APP.s19");
    w.Press(kIdBrowse);
    EXPECT_EQ(w.GetText(kIdFileName), "/data/build/demo_APP.s19");
    w.Press(kIdBrowse);  // cancelled: nothing changes
    shownAfterCancel = w.GetText(kIdFileName);
    w.Press(kIdCancel);
  });
  MainDialog dialog("");
  dialog.DoModal();
  auto requests = host.ui.FileRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].initialDirectory, "");
  EXPECT_EQ(requests[0].filterDescription, "Application Files *_APP.s19");
  EXPECT_EQ(requests[0].filterPattern, "*_APP.s19");
  EXPECT_EQ(requests[1].initialDirectory, "/data/build/demo_APP.s19");
  EXPECT_EQ(shownAfterCancel, "/data/build/demo_APP.s19");
  EXPECT_EQ(LoadFileDir(), "/data/build/demo_APP.s19");
  EXPECT_EQ(dialog.fileName, "");  // changes only at the next taking in
}

TEST(MainDialog, AboutBoxFromTheSystemMenu) {
  TestHost host;
  std::vector<std::pair<unsigned, std::string>> menu;
  int aboutRuns = 0;
  host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
    menu = w.SystemMenu();
    EXPECT_EQ(w.Icons()[true], kIconApp);
    EXPECT_EQ(w.Icons()[false], kIconApp);
    w.Owner().OnSysCommand(16);
    w.Owner().OnSysCommand(0x1F);  // low four bits are ignored
    w.Owner().OnSysCommand(0xF060);
    w.Press(kIdCancel);
  });
  for (int i = 0; i < 2; ++i) {
    host.OnDialog(kDialogAbout, [&](HeadlessWindow& w) {
      ++aboutRuns;
      EXPECT_EQ(std::string(w.Layout()->caption), "About Tideload");
      w.Press(kIdOk);
    });
  }
  MainDialog dialog("");
  dialog.DoModal();
  EXPECT_EQ(aboutRuns, 2);
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].second, "");  // separator
  EXPECT_EQ(menu[1], (std::pair<unsigned, std::string>{16, "&About Tideload..."}));
}

TEST(Application, ExitStatusAndSocketsLayer) {
  TestHost host;
  host.OnDialog(kDialogMain, [](HeadlessWindow& w) { w.Press(kIdCancel); });
  EXPECT_EQ(RunApplication(""), -1);
  EXPECT_TRUE(host.Messages().empty());

  host.net.startupWorks = false;
  EXPECT_EQ(RunApplication(""), 0);
  EXPECT_EQ(host.Messages(), std::vector<std::string>{"Windows sockets initialization failed."});

  // Only version 1.1 is accepted.
  host.ui.ClearMessages();
  host.net.startupWorks = true;
  host.net.grantedMajor = 2;
  EXPECT_EQ(RunApplication("-A -I10.0.0.1"), 0);
  EXPECT_EQ(host.Messages(), std::vector<std::string>{"Windows sockets initialization failed."});
  EXPECT_EQ(LoadIpAddress(), 0u);  // nothing ran
}

}  // namespace
}  // namespace tl
