// The device list: the records heard so far, ordered by groupKey from the
// highest to the lowest, with their groups. It holds no widget; a view, when
// given, is told about every item to add or change.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

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
  DeviceList() = default;
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  const DeviceRecord* First() const { return first_.get(); }
  DeviceRecord* First() { return first_.get(); }
  bool Empty() const { return first_ == nullptr; }
  // Top-level records.
  std::size_t Size() const;

  // Merges one reply; view may be null (the bare model).
  void AddReply(const Reply& reply, DeviceTreeView* view);
  // Destroys every record with its children.
  void Clear() { first_.reset(); }

 private:
  std::unique_ptr<DeviceRecord> first_;
};

}  // namespace tl
