// Which modules answer a search sent to each of them, and what they run:
// before an update that is to be verified, and after the reboot.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/console/console_host.h"

namespace tl::cli {

struct Sighting {
  std::string appText;  // as the module sent it, without the leading ":"
  double seconds = 0;   // after the search began
};

// Sends the search request to each address (through the routing table, so
// on the way that reached the module), first after firstMs, then every
// search period, until every one has answered, `seconds` have passed or
// stop() holds. A reply counts for the module whose address it is to be
// reached at.
std::map<std::uint32_t, Sighting> WatchModules(ConsoleHost& host,
                                               const std::vector<std::uint32_t>& addresses,
                                               std::uint64_t firstMs, double seconds,
                                               const std::function<bool()>& stop);

}  // namespace tl::cli
