#include "discovery/device_list.h"

#include <string>

namespace tl {

namespace {

void AddItem(DeviceTreeView* view, DeviceRecord& record, TreeItem parent) {
  if (view == nullptr) return;
  const std::string text = record.label();
  TreeItem item = view->InsertLast(parent, text);
  view->SetStateImage(item, record.stateImage());
  view->SetData(item, &record);
  record.treeItem = item;
}

void Refresh(DeviceTreeView* view, const DeviceRecord& record) {
  if (view == nullptr) return;
  view->SetText(record.treeItem, record.label());
  view->SetStateImage(record.treeItem, record.stateImage());
}

}  // namespace

template <typename T>
DeviceList::Identity DeviceList::IdentityOf(const T& values) {
  const InfoBlock& block = values.infoBlock;
  return {values.sourceAddress, StaticAddressOf(block), HasCurrentAddress(block),
          CurrentAddressOf(block), values.nameText, values.appText};
}

void DeviceList::Clear() {
  devices_.clear();
  first_.reset();
  interfaces_ = 0;
  leftOut_ = 0;
  leftOutSeen_.clear();
}

bool DeviceList::Admit(const MacAddress& key, const MacAddress& interfaceMac) {
  if (interfaces_ < kMostInterfaces) {
    ++interfaces_;
    return true;
  }
  const std::pair<MacAddress, MacAddress> which{key, interfaceMac};
  if (leftOutSeen_.count(which) != 0) return false;
  if (leftOutSeen_.size() < kMostInterfaces) leftOutSeen_.insert(which);
  ++leftOut_;
  return false;
}

void DeviceList::AddReply(const Reply& reply, DeviceTreeView* view) {
  const MacAddress key = GroupKeyOf(reply.infoBlock);
  const MacAddress mac = InterfaceMacOf(reply.infoBlock);
  auto known = devices_.find(key);

  // 1.-4. A new key: linked in after the lowest key above it (the first
  // record when there is none), so the list stays ordered high to low.
  if (known == devices_.end()) {
    if (!Admit(key, mac)) return;
    const bool only = first_ == nullptr;
    auto above = devices_.upper_bound(key);
    std::unique_ptr<DeviceRecord>* link = above == devices_.end() ? &first_ : &above->second.record->next;
    auto record = std::make_unique<DeviceRecord>(reply);
    record->next = std::move(*link);
    *link = std::move(record);
    DeviceRecord& added = **link;
    devices_[key].record = &added;
    AddItem(view, added, kTreeRoot);
    if (only && view != nullptr) view->Select(added.treeItem);
    return;
  }

  // 5. The same device.
  Device& device = known->second;
  DeviceRecord& group = *device.record;
  if (group.IsGroup()) {
    auto same = device.interfaces.find(mac);
    if (same != device.interfaces.end()) {
      // Of the children with this interface only the first can be
      // consistent: a consistent reply always ends at it.
      Interface& children = same->second;
      DeviceRecord& first = *children.first;
      if (first.isConsistent()) return;
      if (IsConsistentReply(reply.infoBlock, reply.sourceAddress)) {
        children.inconsistent.erase(IdentityOf(first));
        first.TakeValues(reply);
        Refresh(view, first);
        return;
      }
      // A repeat of what an inconsistent child already says adds nothing.
      if (children.inconsistent.count(IdentityOf(reply)) != 0) return;
    }
  } else if (group.interfaceMac() == mac) {
    return;
  }

  // 6. A further interface of the device.
  if (!Admit(key, mac)) return;
  if (!group.IsGroup()) {
    // The device becomes a group; its own reply becomes its first child.
    Reply own;
    own.nameText = group.nameText;
    own.appText = group.appText;
    own.sourceAddress = group.sourceAddress;
    own.infoBlock = group.infoBlock;
    own.arrivedOn = group.arrivedOn;
    group.children = std::make_unique<DeviceRecord>(own);
    device.lastChild = group.children.get();
    Refresh(view, group);
    Adopt(device, *group.children, view);
  }
  device.lastChild->next = std::make_unique<DeviceRecord>(reply);
  device.lastChild = device.lastChild->next.get();
  Adopt(device, *device.lastChild, view);
}

// A new child of the group: indexed by its interface and shown under the
// group's item.
void DeviceList::Adopt(Device& device, DeviceRecord& child, DeviceTreeView* view) {
  child.parent = device.record;
  Interface& same = device.interfaces[child.interfaceMac()];
  if (same.first == nullptr) same.first = &child;
  if (!child.isConsistent()) same.inconsistent.insert(IdentityOf(child));
  AddItem(view, child, device.record->treeItem);
}

}  // namespace tl
