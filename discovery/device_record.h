// One module interface heard by discovery, or a device that answered on
// several interfaces (a group, with the interfaces as its children).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "discovery/datagrams.h"
#include "platform/core/dialog.h"

namespace tl {

class DeviceRecord {
 public:
  explicit DeviceRecord(const Reply& reply);
  // Destroys the child list and the rest of the list after this record.
  ~DeviceRecord();
  DeviceRecord(const DeviceRecord&) = delete;
  DeviceRecord& operator=(const DeviceRecord&) = delete;

  std::unique_ptr<DeviceRecord> next;      // the following record in the same list
  std::unique_ptr<DeviceRecord> children;  // the first child; null unless a group
  DeviceRecord* parent = nullptr;          // the group this record belongs to
  std::uint32_t sourceAddress = 0;
  MacAddress groupKey{};
  std::string nameText;
  std::string appText;
  InfoBlock infoBlock{};
  TreeItem treeItem = 0;
  unsigned arrivedOn = 0;  // the local interface its reply came in on; 0: not known

  // Takes a newer reply's values; the key and the links stay.
  void TakeValues(const Reply& reply);

  // Records alive in the process (single thread), to check releases.
  static std::size_t LiveCount() { return live_; }

  bool IsGroup() const { return children != nullptr; }
  MacAddress interfaceMac() const { return InterfaceMacOf(infoBlock); }
  std::uint32_t staticAddress() const { return StaticAddressOf(infoBlock); }
  std::uint32_t currentAddress() const { return CurrentAddressOf(infoBlock); }
  std::uint8_t interfaceKind() const { return infoBlock[info::kInterfaceKind]; }
  bool isConsistent() const { return IsConsistentReply(infoBlock, sourceAddress); }
  // First octet most significant; 0 when the record has no usable address.
  std::uint32_t connectAddress() const;
  bool usesDhcp() const { return staticAddress() == 0; }
  const char* kindName() const { return KindNameOf(interfaceKind()); }

  // The text of the record's tree item and its state image (1..5).
  std::string label() const;
  int stateImage() const;

 private:
  static inline std::size_t live_ = 0;
};

// "a.b.c.d".
std::string DottedAddress(std::uint32_t address);

}  // namespace tl
