// "Find..." in the main dialog: the device selection dialog and its result.
#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "settings/settings.h"
#include "tests/discovery/find_fixture.h"

namespace tl::test {
namespace {

class OnFindTest : public FindFixture {
 protected:
  // Runs the main dialog; the find script picks or cancels.
  void RunMain(const std::function<void(HeadlessWindow&)>& inMain) {
    MainDialog main("");
    host.OnDialog(kDialogMain, [&](HeadlessWindow& w) {
      inMain(w);
      w.Press(kIdCancel);
    });
    main.DoModal();
  }
};

TEST_F(OnFindTest, ChoosingStoresAtOnceAndFillsTheBoxes) {
  host.OnDialog(kDialogFind, [&](HeadlessWindow& w) {
    host.net.LastUdp()->Deliver(ModuleReply{}.Bytes(), Ip(192, 168, 1, 20));
    w.Press(kIdOk);
  });
  RunMain([&](HeadlessWindow& w) {
    w.Type(kIdFileName, "typed_APP.s19");
    w.Press(kIdReboot);
    w.Press(kIdFind);
    EXPECT_EQ(LoadIpAddress(), 0xC0A80114u);
    EXPECT_EQ(w.GetText(kIdOctet1), "192");
    EXPECT_EQ(w.GetText(kIdOctet2), "168");
    EXPECT_EQ(w.GetText(kIdOctet3), "1");
    EXPECT_EQ(w.GetText(kIdOctet4), "20");
    EXPECT_EQ(w.GetText(kIdFileName), "typed_APP.s19");
    EXPECT_TRUE(w.GetCheck(kIdReboot));
  });
  EXPECT_TRUE(host.Messages().empty());
}

TEST_F(OnFindTest, CancelOrZeroAddressChangesNothing) {
  SaveIpAddress(Ip(10, 9, 8, 7));
  host.OnDialog(kDialogFind, [&](HeadlessWindow& w) {
    host.net.LastUdp()->Deliver(ModuleReply{}.Bytes(), Ip(10, 0, 0, 5));
    w.Close();
  });
  ModuleReply noAddress;
  noAddress.marker = true;  // inconsistent, nothing usable: address 0
  host.OnDialog(kDialogFind, [&](HeadlessWindow& w) {
    host.net.LastUdp()->Deliver(noAddress.Bytes(), Ip(10, 0, 0, 5));
    w.Press(kIdOk);
  });
  RunMain([&](HeadlessWindow& w) {
    w.Press(kIdFind);
    w.Press(kIdFind);
    EXPECT_EQ(w.GetText(kIdOctet1), "10");
    EXPECT_EQ(w.GetText(kIdOctet4), "7");
  });
  EXPECT_EQ(host.Messages(), (std::vector<std::string>{"IP not set", "IP not set"}));
  EXPECT_EQ(LoadIpAddress(), Ip(10, 9, 8, 7));
}

TEST_F(OnFindTest, BadOctetStillKeepsTheOtherEntries) {
  host.OnDialog(kDialogFind, [&](HeadlessWindow& w) {
    host.net.LastUdp()->Deliver(ModuleReply{}.Bytes(), Ip(10, 0, 0, 5));
    w.Press(kIdOk);
  });
  RunMain([&](HeadlessWindow& w) {
    w.Type(kIdOctet2, "999");
    w.Type(kIdFileName, "new_APP.s19");
    w.Press(kIdFind);
    EXPECT_EQ(w.GetText(kIdOctet2), "0");
    EXPECT_EQ(w.GetText(kIdOctet4), "5");
    EXPECT_EQ(w.GetText(kIdFileName), "new_APP.s19");
  });
  ASSERT_FALSE(host.Messages().empty());
}

}  // namespace
}  // namespace tl::test
