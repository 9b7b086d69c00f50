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

  OrderedJson Json(TreeItem item) const {
    const Node& node = tree_.nodes.at(item);
    const DeviceRecord* r = Record(item);
    const std::vector<TreeItem> children = Ordered(node.children);
    OrderedJson j = {{"label", Cp1252ToUtf8(node.text)}, {"stateImage", node.stateImage}};
    if (r != nullptr) {
      j["address"] = DottedAddress(r->connectAddress());
      j["source"] = DottedAddress(r->sourceAddress);
      j["dhcp"] = r->usesDhcp();
      j["consistent"] = r->isConsistent();
      j["kind"] = Cp1252ToUtf8(r->kindName());
      j["interfaceMac"] = MacText(r->interfaceMac());
      j["deviceMac"] = MacText(DeviceMacOf(r->infoBlock));
      j["name"] = Cp1252ToUtf8(r->nameText);
      // The second text as it came: the record keeps it after a ":".
      j["app"] = Cp1252ToUtf8(std::string_view(r->appText).substr(r->appText.empty() ? 0 : 1));
      auto name = format_.interfaceNames.find(r->arrivedOn);
      j["interface"] = name == format_.interfaceNames.end() ? OrderedJson() : OrderedJson(Cp1252ToUtf8(name->second));
      j["addresses"] = Addresses(*r, children);
    }
    j["children"] = OrderedJson::array();
    for (TreeItem child : children) j["children"].push_back(Json(child));
    return j;
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
  OrderedJson Addresses(const DeviceRecord& r, const std::vector<TreeItem>& children) const {
    std::vector<std::uint32_t> addresses;
    for (TreeItem c : children) {
      if (const DeviceRecord* child = Record(c)) addresses.push_back(child->connectAddress());
    }
    if (addresses.empty()) addresses.push_back(r.connectAddress());
    std::set<std::uint32_t> seen;
    OrderedJson list = OrderedJson::array();
    for (std::uint32_t a : addresses) {
      if (seen.insert(a).second) list.push_back(DottedAddress(a));
    }
    return list;
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
    text += WriteJson(printer.Json(roots[i]));
  }
  std::fprintf(out, "%s]\n", text.c_str());
}

}  // namespace tl::cli
