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

// Same addresses and texts.
bool SaysTheSame(const DeviceRecord& record, const Reply& reply) {
  const InfoBlock& a = record.infoBlock;
  const InfoBlock& b = reply.infoBlock;
  return record.sourceAddress == reply.sourceAddress && StaticAddressOf(a) == StaticAddressOf(b) &&
         HasCurrentAddress(a) == HasCurrentAddress(b) && CurrentAddressOf(a) == CurrentAddressOf(b) &&
         record.nameText == reply.nameText && record.appText == reply.appText;
}

}  // namespace

std::size_t DeviceList::Size() const {
  std::size_t n = 0;
  for (const DeviceRecord* r = first_.get(); r != nullptr; r = r->next.get()) ++n;
  return n;
}

void DeviceList::AddReply(const Reply& reply, DeviceTreeView* view) {
  const MacAddress key = GroupKeyOf(reply.infoBlock);

  // 1. The first record.
  if (!first_) {
    first_ = std::make_unique<DeviceRecord>(reply);
    AddItem(view, *first_, kTreeRoot);
    if (view != nullptr) view->Select(first_->treeItem);
    return;
  }

  // 2. Find the place: the link that holds the first record whose key is
  // not higher than the reply's.
  std::unique_ptr<DeviceRecord>* link = &first_;
  while (*link && key < (*link)->groupKey) link = &(*link)->next;

  // 3./4. A new key: link it in here. The records after it hang on to it.
  if (!*link || (*link)->groupKey < key) {
    auto record = std::make_unique<DeviceRecord>(reply);
    record->next = std::move(*link);
    *link = std::move(record);
    AddItem(view, **link, kTreeRoot);
    return;
  }

  // 5. The same device.
  DeviceRecord& device = **link;
  const MacAddress mac = InterfaceMacOf(reply.infoBlock);
  std::unique_ptr<DeviceRecord>* lastChild = nullptr;
  if (device.IsGroup()) {
    const bool replyConsistent = IsConsistentReply(reply.infoBlock, reply.sourceAddress);
    for (std::unique_ptr<DeviceRecord>* c = &device.children; *c; c = &(*c)->next) {
      lastChild = c;
      DeviceRecord& child = **c;
      if (child.interfaceMac() != mac) continue;
      if (child.isConsistent()) return;
      if (replyConsistent) {
        child.TakeValues(reply);
        Refresh(view, child);
        return;
      }
      // A repeat of what an inconsistent child already says adds nothing.
      if (SaysTheSame(child, reply)) return;
    }
  } else if (device.interfaceMac() == mac) {
    return;
  }

  // 6. A further interface of the device.
  auto record = std::make_unique<DeviceRecord>(reply);
  record->parent = &device;
  DeviceRecord& added = *record;
  if (lastChild != nullptr) {
    (*lastChild)->next = std::move(record);
  } else {
    // The device becomes a group; its own reply becomes its first child.
    Reply own;
    own.nameText = device.nameText;
    own.appText = device.appText;
    own.sourceAddress = device.sourceAddress;
    own.infoBlock = device.infoBlock;
    auto first = std::make_unique<DeviceRecord>(own);
    first->parent = &device;
    first->next = std::move(record);
    device.children = std::move(first);
    Refresh(view, device);
    AddItem(view, *device.children, device.treeItem);
  }
  AddItem(view, added, device.treeItem);
}

}  // namespace tl
