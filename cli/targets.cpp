#include "cli/targets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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

// The whole file, at most kJsonMostBytes + 1 bytes of it.
bool ReadBounded(const std::string& path, std::string& text, std::string* error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), std::fclose);
  if (in == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  char block[65536];
  while (text.size() <= kJsonMostBytes) {
    const std::size_t n = std::fread(block, 1, sizeof block, in.get());
    text.append(block, n);
    if (n < sizeof block) break;
  }
  if (std::ferror(in.get())) {
    *error = "cannot be read";
    return false;
  }
  return true;
}

// One interface item: its address and whether its reply was consistent.
bool Interface(const JsonValue& item, std::uint32_t* address, bool* consistent) {
  const JsonValue* a = item.Member("address");
  const JsonValue* c = item.Member("consistent");
  if (a == nullptr || a->kind != JsonValue::Kind::kString || c == nullptr ||
      c->kind != JsonValue::Kind::kBool) {
    return false;
  }
  *consistent = c->boolean;
  return ParseAddress(a->text.c_str(), address) && *address != 0;
}

}  // namespace

std::optional<std::vector<UpdateTarget>> ReadFindOutput(const std::string& path, std::string* error) {
  std::string text;
  if (!ReadBounded(path, text, error)) return std::nullopt;
  std::optional<JsonValue> json = ParseJson(text, error);
  if (!json) return std::nullopt;
  if (json->kind != JsonValue::Kind::kArray) {
    *error = "not find --json output (no array)";
    return std::nullopt;
  }
  std::vector<UpdateTarget> targets;
  for (std::size_t i = 0; i < json->items.size(); ++i) {
    const JsonValue& device = json->items[i];
    const JsonValue* children = device.Member("children");
    if (device.kind != JsonValue::Kind::kObject ||
        (children != nullptr && children->kind != JsonValue::Kind::kArray)) {
      *error = "item " + std::to_string(i + 1) + " is not a device of find --json output";
      return std::nullopt;
    }
    // A group's interfaces are its children; a lone interface is its own.
    std::vector<const JsonValue*> interfaces;
    if (children != nullptr && !children->items.empty()) {
      for (const JsonValue& child : children->items) interfaces.push_back(&child);
    } else {
      interfaces.push_back(&device);
    }
    UpdateTarget target;
    bool found = false;
    for (const JsonValue* item : interfaces) {
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
      }
    }
    if (!found) target.leftOut = "no interface of this device answered consistently: not updated";
    targets.push_back(target);
  }
  return targets;
}

}  // namespace tl::cli
