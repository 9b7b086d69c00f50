#include "cli/module_watch.h"

#include <algorithm>
#include <set>

#include "discovery/device_record.h"
#include "discovery/discovery_socket.h"
#include "discovery/find_dialog.h"

namespace tl::cli {

namespace {

class Watch final : public ReplySink {
 public:
  Watch(EventLoop& loop, const std::vector<std::uint32_t>& addresses)
      : loop_(loop), wanted_(addresses.begin(), addresses.end()), startMs_(loop.NowMs()) {}

  void addReply(const Reply& reply) override {
    const std::uint32_t address = DeviceRecord(reply).connectAddress();
    if (wanted_.count(address) == 0 || seen_.count(address) != 0) return;
    const std::string& app = reply.appText;
    seen_[address] = Sighting{app.empty() ? app : app.substr(1),
                              static_cast<double>(loop_.NowMs() - startMs_) / 1000.0};
  }

  bool AllSeen() const { return seen_.size() == wanted_.size(); }
  std::map<std::uint32_t, Sighting> Seen() const { return seen_; }

 private:
  EventLoop& loop_;
  std::set<std::uint32_t> wanted_;
  std::uint64_t startMs_;
  std::map<std::uint32_t, Sighting> seen_;
};

}  // namespace

std::map<std::uint32_t, Sighting> WatchModules(ConsoleHost& host,
                                               const std::vector<std::uint32_t>& addresses,
                                               std::uint64_t firstMs, double seconds,
                                               const std::function<bool()>& stop) {
  if (addresses.empty()) return {};
  std::vector<SearchDestination> destinations;
  for (std::uint32_t address : addresses) destinations.push_back(SearchDestination{address, 0});
  Watch watch(host.loop, addresses);
  DiscoverySocket socket(watch, destinations);
  if (!socket.IsOpen()) return {};
  const std::uint64_t again =
      host.loop.AddTimer(firstMs, FindDialog::kSearchPeriodMs, [&] { socket.sendSearch(); });
  const std::uint64_t endMs = host.loop.NowMs() + static_cast<std::uint64_t>(seconds * 1000.0);
  while (!watch.AllSeen() && !stop() && host.loop.NowMs() < endMs) {
    host.loop.RunOnce(static_cast<int>(std::min<std::uint64_t>(endMs - host.loop.NowMs(), 100)));
  }
  host.loop.RemoveTimer(again);
  return watch.Seen();
}

}  // namespace tl::cli
