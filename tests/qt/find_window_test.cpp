// "Find..." on the desktop: the tree fills from module replies (a fake
// network: nothing is broadcast), a group expands, OK fills the address
// boxes and stores the address. A picture of the tree goes to
// <build>/screenshots/find-group.png.
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "app/application.h"
#include "settings/settings.h"
#include "tests/discovery/reply_builder.h"
#include "tests/qt/qt_support.h"

namespace tl::test {
namespace {

class FindWindowTest : public QtHostTest {};

TEST_F(FindWindowTest, TreeShowsModulesAndOkFillsTheMainWindow) {
  FakeNetwork net;
  SetHost(Host{&host_->ui, &net, &host_->registry, &host_->files});
  std::string boxes;
  std::vector<std::string> labels;
  WhenOpen(kDialogMain, [&](QtDialogWindow& main) {
    WhenOpen(kDialogFind, [&](QtDialogWindow& find) {
      FakeUdpSocket* udp = net.LastUdp();
      ASSERT_NE(udp, nullptr);
      ModuleReply pump;
      pump.name = "Pump";
      pump.app = "Valve 2.1";
      pump.Mac(0x01, 0x01);
      pump.staticAddress = 0x0A000005;
      udp->Deliver(pump.Bytes(), 0x0A000005);
      ModuleReply eth;
      eth.name = "Gateway";
      eth.app = "Bridge 1.0";
      eth.Mac(0x09, 0x01).Device(0x09);
      eth.staticAddress = 0x0A000901;
      ModuleReply wifi = eth;
      wifi.Mac(0x09, 0x02);
      wifi.kind = 1;
      wifi.staticAddress = 0;
      udp->Deliver(eth.Bytes(), 0x0A000901);
      udp->Deliver(wifi.Bytes(), 0x0A000902);
      auto* tree = qobject_cast<QTreeWidget*>(find.Control(kIdDeviceTree));
      ASSERT_NE(tree, nullptr);
      tree->expandAll();
      for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        labels.push_back(((*it)->parent() ? "  " : "") + (*it)->text(0).toStdString());
      }
      SaveScreenshot(find, QStringLiteral("find-group.png"));
      QTest::mouseClick(find.Control(kIdOk), Qt::LeftButton);  // the first item is selected
    });
    When([&] { return Gone(kDialogFind) && !labels.empty(); }, [&] {
      boxes = main.GetText(kIdOctet1) + "." + main.GetText(kIdOctet2) + "." + main.GetText(kIdOctet3) +
              "." + main.GetText(kIdOctet4);
      QTest::mouseClick(main.Control(kIdCancel), Qt::LeftButton);
    });
    QTest::mouseClick(main.Control(kIdFind), Qt::LeftButton);
  });
  EXPECT_EQ(RunApplication(""), -1);
  EXPECT_EQ(labels, (std::vector<std::string>{"Pump  at 10.0.0.5 running :Valve 2.1", "Gateway running :Bridge 1.0",
                                 "  Ethernet at 10.0.9.1", "  WiFi DHCP'd at 10.0.9.2"}));
  EXPECT_EQ(boxes, "10.0.0.5");
  EXPECT_EQ(LoadIpAddress(), 0x0A000005u);
}

}  // namespace
}  // namespace tl::test

namespace tl::test {
namespace {

// The same on real sockets; runs only inside the test LAN, where the LAN
// script sets TIDELOAD_LAN_ITEMS to the number of tree items to wait for.
class FindWindowLan : public QtHostTest {};

TEST_F(FindWindowLan, RealModulesFillTheTreeAndOkFillsTheBoxes) {
  const char* items = std::getenv("TIDELOAD_LAN_ITEMS");
  if (items == nullptr) GTEST_SKIP() << "runs inside the test LAN only";
  const int expected = std::atoi(items);
  int seen = 0;
  std::string boxes;
  WhenOpen(kDialogMain, [&](QtDialogWindow& main) {
    WhenOpen(kDialogFind, [&](QtDialogWindow& find) {
      auto* tree = qobject_cast<QTreeWidget*>(find.Control(kIdDeviceTree));
      ASSERT_NE(tree, nullptr);
      When([tree, expected] {
             int n = 0;
             for (QTreeWidgetItemIterator it(tree); *it; ++it) ++n;
             return n >= expected;
           },
           [&, tree] {
             for (QTreeWidgetItemIterator it(tree); *it; ++it) {
               ++seen;
               std::printf("%s%s\n", (*it)->parent() ? "  " : "", (*it)->text(0).toStdString().c_str());
             }
             tree->expandAll();
             SaveScreenshot(find, QStringLiteral("find-lan.png"));
             QTest::mouseClick(find.Control(kIdOk), Qt::LeftButton);
           });
    });
    When([&] { return Gone(kDialogFind) && seen > 0; }, [&] {
      boxes = main.GetText(kIdOctet1) + "." + main.GetText(kIdOctet2) + "." + main.GetText(kIdOctet3) +
              "." + main.GetText(kIdOctet4);
      QTest::mouseClick(main.Control(kIdCancel), Qt::LeftButton);
    });
    QTest::mouseClick(main.Control(kIdFind), Qt::LeftButton);
  });
  EXPECT_EQ(RunApplication(""), -1);
  EXPECT_EQ(seen, expected);
  std::uint32_t stored = LoadIpAddress();
  EXPECT_EQ(stored >> 16, 0x0A4Du);  // 10.77.x.x: a module of the LAN
  EXPECT_EQ(boxes, std::to_string(stored >> 24) + "." + std::to_string(stored >> 16 & 255) + "." +
                       std::to_string(stored >> 8 & 255) + "." + std::to_string(stored & 255));
}

}  // namespace
}  // namespace tl::test
