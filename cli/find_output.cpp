#include "cli/find_output.h"

#include <algorithm>
#include <set>
#include <vector>

#include "cli/json.h"
#include "discovery/device_record.h"
#include "platform/console/console_text.h"
#include "platform/core/code_page.h"

namespace tl::cli {

namespace {

using Node = HeadlessWindow::TreeNode;

const char* Bool(bool value) { return value ? "true" : "false"; }

class Printer {
 public:
  Printer(const HeadlessWindow::Control& tree, const FoundFormat& format)
      : tree_(tree), format_(format) {}

  // The items in the order asked for; equal ones as they answered.
  std::vector<TreeItem> Ordered(const std::vector<TreeItem>& items) const {
    std::vector<TreeItem> out = items;
    if (format_.order == FoundOrder::Answered) return out;
    static const std::string kNoName;
    auto name = [&](TreeItem i) -> const std::string& { return Record(i) ? Record(i)->nameText : kNoName; };
    std::stable_sort(out.begin(), out.end(), [&](TreeItem a, TreeItem b) {
      if (format_.order == FoundOrder::Name && name(a) != name(b)) return name(a) < name(b);
      return LowestAddress(a) < LowestAddress(b);
    });
    return out;
  }

  void Text(std::FILE* out, TreeItem item, int depth) const {
    const Node& node = tree_.nodes.at(item);
    WriteLine(out, std::string(2 * static_cast<std::size_t>(depth), ' ') + Cp1252ToUtf8(node.text));
    for (TreeItem child : Ordered(node.children)) Text(out, child, depth + 1);
  }

  std::string Json(TreeItem item) const {
    const Node& node = tree_.nodes.at(item);
    const DeviceRecord* r = Record(item);
    const std::vector<TreeItem> children = Ordered(node.children);
    std::string s = "{\"label\": " + JsonString(node.text) + ", \"stateImage\": " + std::to_string(node.stateImage);
    if (r != nullptr) {
      s += ", \"address\": \"" + DottedAddress(r->connectAddress()) + "\"";
      s += ", \"source\": \"" + DottedAddress(r->sourceAddress) + "\"";
      s += std::string(", \"dhcp\": ") + Bool(r->usesDhcp());
      s += std::string(", \"consistent\": ") + Bool(r->isConsistent());
      s += ", \"kind\": " + JsonString(r->kindName());
      s += ", \"interfaceMac\": \"" + MacText(r->interfaceMac()) + "\"";
      s += ", \"deviceMac\": \"" + MacText(DeviceMacOf(r->infoBlock)) + "\"";
      s += ", \"name\": " + JsonString(r->nameText);
      // The second text as it came: the record keeps it after a ":".
      s += ", \"app\": " + JsonString(std::string_view(r->appText).substr(r->appText.empty() ? 0 : 1));
      auto name = format_.interfaceNames.find(r->arrivedOn);
      s += ", \"interface\": " +
           (name == format_.interfaceNames.end() ? std::string("null") : JsonString(name->second));
      s += ", \"addresses\": [" + Addresses(*r, children) + "]";
    }
    s += ", \"children\": [";
    for (std::size_t i = 0; i < children.size(); ++i) {
      if (i) s += ", ";
      s += Json(children[i]);
    }
    return s + "]}";
  }

 private:
  const DeviceRecord* Record(TreeItem item) const {
    return static_cast<const DeviceRecord*>(tree_.nodes.at(item).data);
  }

  // The lowest address among the record's interfaces: a group sorts by
  // the same key whichever of them answered first.
  std::uint32_t LowestAddress(TreeItem item) const {
    const DeviceRecord* r = Record(item);
    if (r == nullptr) return 0;
    std::uint32_t lowest = r->connectAddress();
    for (TreeItem c : tree_.nodes.at(item).children) {
      if (const DeviceRecord* child = Record(c)) lowest = std::min(lowest, child->connectAddress());
    }
    return lowest;
  }

  // A group: every interface's address, each once; else the record's own.
  std::string Addresses(const DeviceRecord& r, const std::vector<TreeItem>& children) const {
    std::vector<std::uint32_t> addresses;
    for (TreeItem c : children) {
      if (const DeviceRecord* child = Record(c)) addresses.push_back(child->connectAddress());
    }
    if (addresses.empty()) addresses.push_back(r.connectAddress());
    std::set<std::uint32_t> seen;
    std::string s;
    for (std::uint32_t a : addresses) {
      if (seen.insert(a).second) s += (s.empty() ? "\"" : ", \"") + DottedAddress(a) + "\"";
    }
    return s;
  }

  const HeadlessWindow::Control& tree_;
  const FoundFormat& format_;
};

}  // namespace

void PrintFound(std::FILE* out, const HeadlessWindow::Control& tree, const FoundFormat& format) {
  const Printer printer(tree, format);
  const std::vector<TreeItem> roots = printer.Ordered(tree.roots);
  if (!format.json) {
    for (TreeItem root : roots) printer.Text(out, root, 0);
    return;
  }
  std::string text = "[";
  for (std::size_t i = 0; i < roots.size(); ++i) {
    text += i ? ",\n " : "";
    text += printer.Json(roots[i]);
  }
  std::fprintf(out, "%s]\n", text.c_str());
}

}  // namespace tl::cli
