// Runs FindDialog on the test host and reads its tree and device list.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "discovery/find_dialog.h"
#include "tests/discovery/reply_builder.h"
#include "tests/support/test_host.h"

namespace tl::test {

class FindFixture : public ::testing::Test {
 protected:
  TestHost host;
  FindDialog* dialog = nullptr;
  HeadlessWindow* window = nullptr;

  // Opens the dialog, runs body while it is shown, then cancels it unless
  // body ended it. Returns the dialog's result.
  int Run(const std::function<void()>& body, FindDialog* use = nullptr) {
    FindDialog local(nullptr);
    FindDialog& d = use ? *use : local;
    host.OnDialog(kDialogFind, [&](HeadlessWindow& w) {
      dialog = &d;
      window = &w;
      body();
      if (!w.Ended()) w.Close();
    });
    return d.DoModal();
  }

  FakeUdpSocket& Udp() { return *host.net.LastUdp(); }
  void Send(const ModuleReply& m, std::uint32_t from, unsigned arrivedOn = 0) {
    Udp().Deliver(m.Bytes(), from, kDiscoveryPort, arrivedOn);
  }

  // One line per item, children indented two blanks: "label [image]".
  std::vector<std::string> Tree() const {
    std::vector<std::string> lines;
    const HeadlessWindow::Control* tree = window->Find(kIdDeviceTree);
    std::function<void(TreeItem, int)> walk = [&](TreeItem item, int depth) {
      const HeadlessWindow::TreeNode& n = tree->nodes.at(item);
      lines.push_back(std::string(2 * depth, ' ') + n.text + " [" + std::to_string(n.stateImage) + "]");
      for (TreeItem c : n.children) walk(c, depth + 1);
    };
    for (TreeItem r : tree->roots) walk(r, 0);
    return lines;
  }

  // The top-level list by name, groups with their children's last MAC byte.
  std::vector<std::string> ListOrder() const {
    std::vector<std::string> out;
    for (const DeviceRecord* r = dialog->deviceList(); r != nullptr; r = r->next.get()) {
      std::string s = r->nameText;
      for (const DeviceRecord* c = r->children.get(); c != nullptr; c = c->next.get()) {
        s += " " + std::to_string(c->interfaceMac()[5]);
        EXPECT_EQ(c->parent, r);
      }
      out.push_back(s);
    }
    return out;
  }

  // Every record has its item, and the item points back at it.
  void CheckItemsMatchRecords() const {
    std::size_t records = 0;
    std::function<void(const DeviceRecord*)> check = [&](const DeviceRecord* r) {
      for (; r != nullptr; r = r->next.get()) {
        ++records;
        EXPECT_EQ(window->TreeGetData(kIdDeviceTree, r->treeItem), r);
        check(r->children.get());
      }
    };
    check(dialog->deviceList());
    EXPECT_EQ(window->Find(kIdDeviceTree)->nodes.size(), records);
  }
};

}  // namespace tl::test
