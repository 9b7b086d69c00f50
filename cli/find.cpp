// tideload-cli find: one search with the device selection dialog on the
// console host, then the tree it shows, as text or JSON.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "cli/commands.h"
#include "cli/json.h"
#include "discovery/device_record.h"
#include "discovery/find_dialog.h"
#include "platform/console/console_host.h"
#include "platform/console/console_text.h"
#include "platform/core/code_page.h"

namespace tl::cli {

namespace {

std::string MacText(const MacAddress& m) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

void PrintText(const HeadlessWindow::Control& tree, TreeItem item, int depth) {
  const HeadlessWindow::TreeNode& node = tree.nodes.at(item);
  WriteLine(stdout, std::string(2 * static_cast<std::size_t>(depth), ' ') + Cp1252ToUtf8(node.text));
  for (TreeItem child : node.children) PrintText(tree, child, depth + 1);
}

std::string Json(const HeadlessWindow::Control& tree, TreeItem item) {
  const HeadlessWindow::TreeNode& node = tree.nodes.at(item);
  const auto* r = static_cast<const DeviceRecord*>(node.data);
  std::string s = "{\"label\": " + JsonString(node.text) + ", \"stateImage\": " + std::to_string(node.stateImage);
  if (r != nullptr) {
    s += ", \"address\": \"" + DottedAddress(r->connectAddress()) + "\"";
    s += ", \"source\": \"" + DottedAddress(r->sourceAddress) + "\"";
    s += std::string(", \"dhcp\": ") + (r->usesDhcp() ? "true" : "false");
    s += std::string(", \"consistent\": ") + (r->isConsistent() ? "true" : "false");
    s += ", \"kind\": " + JsonString(r->kindName());
    s += ", \"interfaceMac\": \"" + MacText(r->interfaceMac()) + "\"";
    s += ", \"deviceMac\": \"" + MacText(DeviceMacOf(r->infoBlock)) + "\"";
    s += ", \"name\": " + JsonString(r->nameText);
    s += ", \"app\": " + JsonString(r->appText);
  }
  s += ", \"children\": [";
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    if (i) s += ", ";
    s += Json(tree, node.children[i]);
  }
  return s + "]}";
}

}  // namespace

int RunFind(int argc, char** argv) {
  bool json = false;
  double seconds = 1.0;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      char* end = nullptr;
      seconds = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || seconds < 0 || seconds > 3600) {
        std::fprintf(stderr, "tideload-cli find: bad --seconds '%s'\n", argv[i]);
        return 2;
      }
    } else {
      std::fprintf(stderr, "Usage: tideload-cli find [--json] [--seconds S]\n");
      return 2;
    }
  }

  ConsoleHost host("tideload");
  FindDialog find(nullptr);
  bool opened = true;
  host.ui.hooks().onDialogShown = [&](HeadlessWindow& window) {
    opened = find.Socket() != nullptr && find.Socket()->IsOpen();
    const auto endMs = static_cast<std::uint64_t>(
        FindDialog::kSearchPeriodMs * FindDialog::kHeardListsPerSearch + seconds * 1000.0);
    HeadlessWindow* w = &window;
    host.loop.Post(endMs, [&, w] {
      const HeadlessWindow::Control* tree = w->Find(kIdDeviceTree);
      if (json) {
        std::string out = "[";
        for (std::size_t i = 0; i < tree->roots.size(); ++i) {
          out += i ? ",\n " : "";
          out += Json(*tree, tree->roots[i]);
        }
        std::printf("%s]\n", out.c_str());
      } else {
        for (TreeItem root : tree->roots) PrintText(*tree, root, 0);
      }
      std::fflush(stdout);
      w->Close();
    });
  };
  find.DoModal();
  return opened ? 0 : 1;
}

}  // namespace tl::cli
