// The device list: the records heard so far, ordered by groupKey from the
// highest to the lowest, with their groups. It holds no widget; a view, when
// given, is told about every item to add or change. An index beside the
// list finds a reply's place in logarithmic time, however long the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include "discovery/datagrams.h"
#include "discovery/device_record.h"
#include "platform/core/dialog.h"

namespace tl {

// What the merge needs of a tree.
class DeviceTreeView {
 public:
  // Inserts the item as the last one under parent (kTreeRoot: a root item).
  virtual TreeItem InsertLast(TreeItem parent, std::string_view text) = 0;
  virtual void SetText(TreeItem item, std::string_view text) = 0;
  virtual void SetStateImage(TreeItem item, int index) = 0;
  virtual void SetData(TreeItem item, DeviceRecord* record) = 0;
  virtual void Select(TreeItem item) = 0;

 protected:
  ~DeviceTreeView() = default;
};

class DeviceList {
 public:
  // Interfaces kept at most (records other than groups): a reply that would
  // add one more is counted and left out.
  static constexpr std::size_t kMostInterfaces = 10000;

  DeviceList() = default;
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  const DeviceRecord* First() const { return first_.get(); }
  DeviceRecord* First() { return first_.get(); }
  bool Empty() const { return first_ == nullptr; }
  // Top-level records.
  std::size_t Size() const { return devices_.size(); }
  // Interfaces kept: what the heard list has an entry for.
  std::size_t Interfaces() const { return interfaces_; }
  // Further interfaces heard beyond kMostInterfaces and left out.
  std::size_t LeftOut() const { return leftOut_; }

  // Merges one reply; view may be null (the bare model).
  void AddReply(const Reply& reply, DeviceTreeView* view);
  // Destroys every record with its children.
  void Clear();

 private:
  // What a reply said: its addresses and texts. Views into a record's
  // texts, which stay put while it is in the index.
  using Identity = std::tuple<std::uint32_t, std::uint32_t, bool, std::uint32_t, std::string_view,
                              std::string_view>;
  // The children of a group with one interfaceMac.
  struct Interface {
    DeviceRecord* first = nullptr;   // the only one that can be consistent
    std::set<Identity> inconsistent; // what the inconsistent ones said
  };
  struct Device {
    DeviceRecord* record = nullptr;
    DeviceRecord* lastChild = nullptr;
    std::map<MacAddress, Interface> interfaces;  // by interfaceMac, once a group
  };

  template <typename T>
  static Identity IdentityOf(const T& values);
  // Room for one more interface; else the reply is counted as left out.
  bool Admit(const MacAddress& key, const MacAddress& interfaceMac);
  void Adopt(Device& device, DeviceRecord& child, DeviceTreeView* view);

  std::unique_ptr<DeviceRecord> first_;
  std::map<MacAddress, Device> devices_;  // by groupKey
  std::size_t interfaces_ = 0;
  std::size_t leftOut_ = 0;
  // The interfaces left out so far (groupKey, interfaceMac), so that one
  // that keeps answering counts once; bounded, beyond that each counts.
  std::set<std::pair<MacAddress, MacAddress>> leftOutSeen_;
};

}  // namespace tl
