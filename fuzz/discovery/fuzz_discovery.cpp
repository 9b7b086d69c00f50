// Datagrams as a module might send them, decoded and merged, with the list,
// the items and the heard list checked after every step.
//
// Input: a series of [flags][length][bytes]: flags bit 0 picks 127.0.0.1 as
// the sender, bits 1-3 a sender address; the bytes are the datagram, taken
// as received (at most 1024).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "discovery/datagrams.h"
#include "discovery/device_list.h"

namespace {

class CheckingView : public tl::DeviceTreeView {
 public:
  struct Node {
    tl::TreeItem parent;
    tl::DeviceRecord* record = nullptr;
    int image = 0;
  };
  std::map<tl::TreeItem, Node> nodes;
  tl::TreeItem next = 1;
  tl::TreeItem selected = 0;

  tl::TreeItem InsertLast(tl::TreeItem parent, std::string_view) override {
    if (parent != tl::kTreeRoot && !nodes.count(parent)) std::abort();
    nodes[next] = Node{parent};
    return next++;
  }
  void SetText(tl::TreeItem item, std::string_view) override { Need(item); }
  void SetStateImage(tl::TreeItem item, int index) override {
    if (index < 1 || index > 5) std::abort();
    Need(item).image = index;
  }
  void SetData(tl::TreeItem item, tl::DeviceRecord* record) override { Need(item).record = record; }
  void Select(tl::TreeItem item) override {
    Need(item);
    if (selected != 0) std::abort();  // only the first item is ever selected
    selected = item;
  }
  Node& Need(tl::TreeItem item) {
    auto it = nodes.find(item);
    if (it == nodes.end()) std::abort();
    return it->second;
  }
};

void Check(const tl::DeviceList& list, CheckingView& view) {
  std::size_t records = 0, topLevel = 0, interfaces = 0;
  const tl::DeviceRecord* prev = nullptr;
  for (const tl::DeviceRecord* r = list.First(); r != nullptr; r = r->next.get()) {
    ++records;
    ++topLevel;
    if (!r->IsGroup()) ++interfaces;
    if (prev != nullptr && !(r->groupKey < prev->groupKey)) std::abort();
    if (r->parent != nullptr) std::abort();
    if (view.Need(r->treeItem).record != r || view.Need(r->treeItem).parent != tl::kTreeRoot) std::abort();
    if (view.Need(r->treeItem).image != r->stateImage()) std::abort();
    std::size_t children = 0;
    for (const tl::DeviceRecord* c = r->children.get(); c != nullptr; c = c->next.get()) {
      ++records;
      ++children;
      ++interfaces;
      if (c->parent != r || c->children != nullptr || c->groupKey != r->groupKey) std::abort();
      if (view.Need(c->treeItem).parent != r->treeItem || view.Need(c->treeItem).record != c) std::abort();
      if (view.Need(c->treeItem).image != c->stateImage()) std::abort();
    }
    if (children == 1) std::abort();  // a group has at least two
    prev = r;
  }
  if (records != view.nodes.size()) std::abort();
  // The index agrees with the list it stands beside.
  if (topLevel != list.Size() || interfaces != list.Interfaces()) std::abort();
  if (interfaces > tl::DeviceList::kMostInterfaces) std::abort();
  std::array<std::uint8_t, tl::kHeardListBufferLength> heard;
  std::size_t n = tl::BuildHeardList(list.First(), heard);
  if (n < 10 || n > heard.size() || n % 2 != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tl::DeviceList list;
  CheckingView view;
  std::size_t at = 0;
  while (at + 2 <= size) {
    const std::uint8_t flags = data[at];
    std::size_t length = data[at + 1] * 5u;  // reach 1024 with one byte
    at += 2;
    if (length > size - at) length = size - at;
    if (length > tl::kLargestDatagram) length = tl::kLargestDatagram;
    // Its own block of exactly this size, so a read past it is seen.
    std::vector<std::uint8_t> datagram(data + at, data + at + length);
    at += length;
    const std::uint32_t from = (flags & 1) ? tl::kLoopbackAddress : 0x0A000000u | ((flags >> 1) & 7u);
    tl::Reply reply;
    if (tl::DecodeReply(datagram.data(), datagram.size(), from, reply)) {
      if (reply.nameText.size() > tl::kLongestNameText || reply.appText.size() > tl::kLongestSecondText + 1) std::abort();
      list.AddReply(reply, &view);
      Check(list, view);
    }
  }
  return 0;
}
