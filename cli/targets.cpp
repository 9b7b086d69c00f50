#include "cli/targets.h"

#include "cli/json_reader.h"

namespace tl::cli {

bool ParseAddress(const char* text, std::uint32_t* address) {
  std::uint32_t value = 0;
  const char* p = text;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) {
      if (*p != '.') return false;
      ++p;
    }
    unsigned number = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 4) {
      number = number * 10 + static_cast<unsigned>(*p - '0');
      ++p;
      ++digits;
    }
    if (digits == 0 || digits > 3 || number > 255) return false;
    value = (value << 8) | number;
  }
  if (*p != '\0') return false;
  *address = value;
  return true;
}

namespace {

// One interface item: its address and whether its reply was consistent.
bool Interface(const nlohmann::json& item, std::uint32_t* address, bool* consistent) {
  const auto a = item.find("address");
  const auto c = item.find("consistent");
  if (a == item.end() || !a->is_string() || c == item.end() || !c->is_boolean()) return false;
  *consistent = c->get<bool>();
  return ParseAddress(a->get_ref<const std::string&>().c_str(), address) && *address != 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(c | 0x20);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "02:00:5e:10:00:01", as find writes it.
std::optional<MacAddress> ParseMac(std::string_view text) {
  MacAddress mac{};
  if (text.size() != 3 * mac.size() - 1) return std::nullopt;
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const int high = HexDigit(text[3 * i]);
    const int low = HexDigit(text[3 * i + 1]);
    if (high < 0 || low < 0 || (i > 0 && text[3 * i - 1] != ':')) return std::nullopt;
    mac[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return mac;
}

}  // namespace

std::optional<std::vector<UpdateTarget>> FindOutputTargets(std::string_view text, std::string* error) {
  std::optional<nlohmann::json> json = ParseJson(text, error);
  if (!json) return std::nullopt;
  if (!json->is_array()) {
    *error = "not find --json output (no array)";
    return std::nullopt;
  }
  std::vector<UpdateTarget> targets;
  for (std::size_t i = 0; i < json->size(); ++i) {
    const nlohmann::json& device = (*json)[i];
    const auto children = device.find("children");
    if (!device.is_object() || (children != device.end() && !children->is_array())) {
      *error = "item " + std::to_string(i + 1) + " is not a device of find --json output";
      return std::nullopt;
    }
    // A group's interfaces are its children; a lone interface is its own.
    std::vector<const nlohmann::json*> interfaces;
    if (children != device.end() && !children->empty()) {
      for (const nlohmann::json& child : *children) interfaces.push_back(&child);
    } else {
      interfaces.push_back(&device);
    }
    UpdateTarget target;
    bool found = false;
    for (const nlohmann::json* item : interfaces) {
      std::uint32_t address = 0;
      bool consistent = false;
      if (!Interface(*item, &address, &consistent)) {
        *error = "item " + std::to_string(i + 1) + " has an interface without a usable address";
        return std::nullopt;
      }
      if (target.address == 0) target.address = address;
      if (consistent && !found) {
        target.address = address;
        found = true;
        const auto mac = item->find("interfaceMac");
        if (mac != item->end()) {
          target.interfaceMac = mac->is_string() ? ParseMac(mac->get_ref<const std::string&>()) : std::nullopt;
          if (!target.interfaceMac) {
            *error = "item " + std::to_string(i + 1) + " has an interfaceMac that is not a MAC";
            return std::nullopt;
          }
        }
      }
    }
    if (!found) target.leftOut = "no interface of this device answered consistently: not updated";
    targets.push_back(target);
  }
  return targets;
}

}  // namespace tl::cli
