#include "discovery/device_record.h"

namespace tl {

DeviceRecord::DeviceRecord(const Reply& reply)
    : sourceAddress(reply.sourceAddress),
      groupKey(GroupKeyOf(reply.infoBlock)),
      nameText(reply.nameText),
      appText(reply.appText),
      infoBlock(reply.infoBlock),
      arrivedOn(reply.arrivedOn) {
  ++live_;
}

DeviceRecord::~DeviceRecord() {
  // Unlink the rest of the list one by one so a long list does not recurse.
  std::unique_ptr<DeviceRecord> rest = std::move(next);
  while (rest) rest = std::move(rest->next);
  --live_;
}

void DeviceRecord::TakeValues(const Reply& reply) {
  sourceAddress = reply.sourceAddress;
  infoBlock = reply.infoBlock;
  nameText = reply.nameText;
  appText = reply.appText;
  arrivedOn = reply.arrivedOn;
}

std::uint32_t DeviceRecord::connectAddress() const {
  if (isConsistent()) return sourceAddress;
  if (currentAddress() != 0) return currentAddress();
  return staticAddress();
}

std::string DottedAddress(std::uint32_t address) {
  return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
         std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::string DeviceRecord::label() const {
  const std::string at = DottedAddress(connectAddress());
  if (IsGroup()) return nameText + " running " + appText;
  if (parent != nullptr) {
    return std::string(kindName()) + (usesDhcp() ? " DHCP'd at " : " at ") + at;
  }
  return nameText + (usesDhcp() ? " DHCP'd at " : "  at ") + at + " running " + appText;
}

int DeviceRecord::stateImage() const {
  if (IsGroup()) return 1;
  int image = interfaceKind() == 1 ? 4 : 2;
  return isConsistent() ? image : image + 1;
}

}  // namespace tl
