// The modules one tideload-cli update call serves: addresses from the
// command line and from find --json output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/datagrams.h"

namespace tl::cli {

struct UpdateTarget {
  std::uint32_t address = 0;
  std::string leftOut;  // not empty: the module is not updated, and why
  // From find --json output: the MAC of the interface found there. The
  // module is updated only when it still answers with this one.
  std::optional<MacAddress> interfaceMac;
};

// Four decimal octets 0..255 separated by dots; nothing else.
bool ParseAddress(const char* text, std::uint32_t* address);

// One target per device of find --json output (a JSON array of items with
// "address", "consistent" and "children"; other members are passed over):
// a device is reached through its first consistent interface, which it is
// pinned to by that interface's "interfaceMac" when the item has one. A
// device without one is a target left out. Nothing, with the reason, when
// the text is not such output.
std::optional<std::vector<UpdateTarget>> FindOutputTargets(std::string_view text, std::string* error);

}  // namespace tl::cli
