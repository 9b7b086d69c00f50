// tideload-cli find: one search with the device selection dialog on the
// console host, out of every interface or to given addresses, then the tree
// it shows, as text or JSON.
#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/find_output.h"
#include "cli/exit_status.h"
#include "discovery/device_record.h"
#include "discovery/find_dialog.h"
#include "platform/console/console_host.h"
#include "platform/console/console_text.h"

namespace tl::cli {

namespace {

constexpr int kMostSeconds = 3600;

// One place the search goes, and what the sends there did.
struct Target {
  SearchDestination destination;
  std::string where;  // "out of eth1", "to 10.1.2.255"
  int sent = 0;
  int lastError = 0;
};

// The host's network, counting per target the datagrams that went out: a
// search whose every send failed (no route, say) heard nothing because it
// asked nothing.
class SendCountingNetwork final : public Network {
 public:
  SendCountingNetwork(Network& network, std::vector<Target>& targets)
      : network_(network), targets_(targets) {}

  bool Startup(int major, int minor, int* grantedMajor, int* grantedMinor) override {
    return network_.Startup(major, minor, grantedMajor, grantedMinor);
  }
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t localPort, SocketEvents& events) override {
    std::unique_ptr<UdpSocket> socket = network_.OpenUdp(localPort, events);
    if (!socket) return nullptr;
    return std::make_unique<Socket>(std::move(socket), *this);
  }
  std::vector<NetworkInterface> Interfaces() override { return network_.Interfaces(); }
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t address, std::uint16_t port,
                                        SocketEvents& events) override {
    return network_.ConnectTcp(address, port, events);
  }
  long LastError() override { return network_.LastError(); }

 private:
  long Count(unsigned via, std::uint32_t address, long n) {
    const int error = errno;
    for (Target& t : targets_) {
      if (t.destination.via != via || t.destination.address != address) continue;
      if (n >= 0) {
        ++t.sent;
      } else {
        t.lastError = error;
      }
    }
    return n;
  }

  class Socket final : public UdpSocket {
   public:
    Socket(std::unique_ptr<UdpSocket> socket, SendCountingNetwork& network)
        : socket_(std::move(socket)), network_(network) {}
    bool EnableBroadcast() override { return socket_->EnableBroadcast(); }
    long SendTo(const void* data, std::size_t length, std::uint32_t address,
                std::uint16_t port) override {
      return network_.Count(0, address, socket_->SendTo(data, length, address, port));
    }
    long SendToVia(unsigned via, const void* data, std::size_t length, std::uint32_t address,
                   std::uint16_t port) override {
      return network_.Count(via, address, socket_->SendToVia(via, data, length, address, port));
    }
    long ReceiveFromOn(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                       std::uint16_t* fromPort, unsigned* arrivedOn) override {
      return socket_->ReceiveFromOn(buffer, capacity, fromAddress, fromPort, arrivedOn);
    }

   private:
    std::unique_ptr<UdpSocket> socket_;
    SendCountingNetwork& network_;
  };

  Network& network_;
  std::vector<Target>& targets_;
};

// The selection dialog, telling once the request went out and so many
// distinct interfaces (device and interface MAC) have answered.
class CountingFind final : public FindDialog {
 public:
  CountingFind(std::size_t expect, std::function<void()> enough)
      : FindDialog(nullptr), expect_(expect), enough_(std::move(enough)) {}

  // The request has gone out: from now on enough is enough.
  void Asked() {
    asked_ = true;
    Check();
  }

  // Distinct interfaces heard, counted up to the number expected.
  std::size_t Heard() const { return heard_.size(); }

  void addReply(const Reply& reply) override {
    FindDialog::addReply(reply);
    if (heard_.size() < expect_) heard_.insert({GroupKeyOf(reply.infoBlock), InterfaceMacOf(reply.infoBlock)});
    Check();
  }

 private:
  void Check() {
    if (!asked_ || told_ || heard_.size() < expect_) return;
    told_ = true;
    enough_();
  }

  std::size_t expect_;
  std::function<void()> enough_;
  std::set<std::pair<MacAddress, MacAddress>> heard_;  // at most expect_ of them
  bool asked_ = false;
  bool told_ = false;
};

// A plain decimal number of seconds in range: no inf, nan or hex; -0 is 0.
bool ParseSeconds(const char* text, double* seconds) {
  if (*text == '\0' || std::strspn(text, "0123456789.eE+-") != std::strlen(text)) return false;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(value) || !(value >= 0 && value <= kMostSeconds)) return false;
  *seconds = value == 0 ? 0.0 : value;
  return true;
}

// Decimal digits only, 0 to most.
bool ParseCount(const char* text, std::size_t most, std::size_t* count) {
  if (*text == '\0' || std::strspn(text, "0123456789") != std::strlen(text) || std::strlen(text) > 9) return false;
  *count = std::strtoul(text, nullptr, 10);
  return *count <= most;
}

std::optional<std::uint32_t> ParseDestination(const char* text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text, &a) != 1) return std::nullopt;
  const std::uint32_t address = ntohl(a.s_addr);
  if (address == 0) return std::nullopt;
  return address;
}

bool Broadcasts(const NetworkInterface& i) { return i.up && i.canBroadcast; }

// Where the search goes: the limited broadcast out of each chosen interface
// (by routing alone when none can broadcast), then each --to address.
// Empty with the reason in *error when a name is no such interface.
std::vector<Target> ChooseTargets(const std::vector<NetworkInterface>& interfaces,
                                  const std::vector<const char*>& names,
                                  const std::vector<std::uint32_t>& to, bool broadcast,
                                  std::string* error) {
  std::vector<Target> targets;
  auto add = [&](std::uint32_t address, unsigned via, std::string where) {
    for (const Target& t : targets) {
      if (t.destination.address == address && t.destination.via == via) return;
    }
    targets.push_back(Target{SearchDestination{address, via}, std::move(where)});
  };
  if (broadcast) {
    for (const char* name : names) {
      const NetworkInterface* found = nullptr;
      for (const NetworkInterface& i : interfaces) {
        if (i.name == name && Broadcasts(i)) found = &i;
      }
      if (found == nullptr) {
        std::string usable;
        for (const NetworkInterface& i : interfaces) {
          if (Broadcasts(i)) usable += (usable.empty() ? "" : ", ") + i.name;
        }
        *error = std::string("no interface '") + name + "' that is up and can broadcast (" +
                 (usable.empty() ? std::string("there is none") : "there are " + usable) + ")";
        return {};
      }
      add(kBroadcastAddress, found->id, "out of " + found->name);
    }
    if (names.empty()) {
      for (const NetworkInterface& i : interfaces) {
        if (Broadcasts(i)) add(kBroadcastAddress, i.id, "out of " + i.name);
      }
    }
    if (targets.empty()) add(kBroadcastAddress, 0, "to " + DottedAddress(kBroadcastAddress));
  }
  for (std::uint32_t address : to) add(address, 0, "to " + DottedAddress(address));
  return targets;
}

}  // namespace

const CommandTable kFindCommand = {
    "find",
    "",
    0,
    0,
    "search the network for modules and print what answered",
    {{"--json", nullptr, nullptr, "a JSON array instead of the indented tree"},
     {"--seconds", nullptr, "S", "listen S more seconds after the third heard list (1)"},
     {"--interface", nullptr, "NAME", "broadcast out of the interfaces named, no other (repeatable)"},
     {"--to", nullptr, "ADDRESS", "search at this unicast or subnet broadcast address (repeatable)"},
     {"--broadcast", nullptr, nullptr, "with --to: broadcast on the interfaces as well"},
     {"--sort", nullptr, "KEY", "order by 'address' or 'name' (default: as they answered)"},
     {"--expect", nullptr, "N", "end as soon as N distinct interfaces have answered"}},
    "  One search: the request, then three heard lists 1.5 s apart, each sent to\n"
    "  255.255.255.255 out of every interface that is up and can broadcast (or\n"
    "  those named with --interface), so modules on every network card answer;\n"
    "  all replies make one tree. --to sends them to that address instead, through\n"
    "  the routing table (a module or a subnet behind a router); add --broadcast or\n"
    "  --interface to broadcast as well. It broadcasts: run it on the modules'\n"
    "  network or inside the test LAN. Interfaces beyond the list's bound (ten\n"
    "  thousand) are left out, and stderr says how many. JSON gives each reply's\n"
    "  arrival interface (\"interface\") and each device's addresses (\"addresses\").\n"
    "  It ends with 0 also when nothing answered (or fewer than --expect), with\n"
    "  connection-failed when the socket could not be opened or no request could be\n"
    "  sent (no route, say), and with usage for an --interface that is not up or\n"
    "  cannot broadcast.\n",
};

int RunFind(int argc, char** argv) {
  GivenOptions given;
  if (std::optional<int> status = ParseCommandLine(kFindCommand, argc, argv, given)) return *status;
  FoundFormat format;
  format.json = given.Has("--json");
  double seconds = 1.0;
  if (const char* text = given.Value("--seconds"); text != nullptr && !ParseSeconds(text, &seconds)) {
    return UsageError(kFindCommand, std::string("bad --seconds '") + text + "' (a number, 0 to " +
                                        std::to_string(kMostSeconds) + ")");
  }
  if (const char* key = given.Value("--sort")) {
    if (std::strcmp(key, "address") == 0) {
      format.order = FoundOrder::Address;
    } else if (std::strcmp(key, "name") == 0) {
      format.order = FoundOrder::Name;
    } else {
      return UsageError(kFindCommand, std::string("bad --sort '") + key + "' (address or name)");
    }
  }
  std::optional<std::size_t> expect;
  if (const char* text = given.Value("--expect")) {
    std::size_t n = 0;
    if (!ParseCount(text, DeviceList::kMostInterfaces, &n)) {
      return UsageError(kFindCommand, std::string("bad --expect '") + text + "' (a count, 0 to " +
                                          std::to_string(DeviceList::kMostInterfaces) + ")");
    }
    expect = n;
  }
  std::vector<std::uint32_t> to;
  for (const char* text : given.Values("--to")) {
    std::optional<std::uint32_t> address = ParseDestination(text);
    if (!address) return UsageError(kFindCommand, std::string("bad --to '") + text + "' (an IPv4 address)");
    to.push_back(*address);
  }

  ConsoleHost host("tideload");
  const std::vector<NetworkInterface> interfaces = host.network.Interfaces();
  for (const NetworkInterface& i : interfaces) format.interfaceNames[i.id] = i.name;
  const std::vector<const char*> names = given.Values("--interface");
  std::string error;
  std::vector<Target> targets =
      ChooseTargets(interfaces, names, to, to.empty() || given.Has("--broadcast") || !names.empty(), &error);
  if (targets.empty()) return UsageError(kFindCommand, error);

  SendCountingNetwork network(host.network, targets);
  Host counted = CurrentHost();
  counted.network = &network;
  SetHost(counted);
  HeadlessWindow* window = nullptr;
  bool ended = false;
  auto end = [&] {
    if (ended || window == nullptr) return;
    ended = true;
    PrintFound(stdout, *window->Find(kIdDeviceTree), format);
    std::fflush(stdout);
    window->Close();
  };
  CountingFind find(expect.value_or(0), [&] { host.loop.Post(0, end); });
  std::vector<SearchDestination> destinations;
  for (const Target& t : targets) destinations.push_back(t.destination);
  find.SetSearchDestinations(destinations);
  bool opened = true;
  host.ui.hooks().onDialogShown = [&](HeadlessWindow& w) {
    window = &w;
    opened = find.Socket() != nullptr && find.Socket()->IsOpen();
    const auto endMs = static_cast<std::uint64_t>(
        FindDialog::kSearchPeriodMs * FindDialog::kHeardListsPerSearch + seconds * 1000.0);
    host.loop.Post(endMs, end);
    if (expect) find.Asked();
  };
  find.DoModal();
  if (const std::size_t leftOut = find.Devices().LeftOut(); leftOut > 0) {
    WriteLine(stderr, std::to_string(leftOut) + " further interfaces were left out");
  }
  if (!opened) return ExitStatus(Outcome::kConnectionFailed);
  int sent = 0;
  int lastError = 0;
  for (const Target& t : targets) {
    sent += t.sent;
    if (t.sent == 0) lastError = t.lastError;
  }
  if (sent == 0) {
    WriteLine(stderr, std::string("tideload-cli find: no search request could be sent: ") +
                          std::strerror(lastError));
    return ExitStatus(Outcome::kConnectionFailed);
  }
  for (const Target& t : targets) {
    if (t.sent == 0) {
      WriteLine(stderr, "tideload-cli find: nothing could be sent " + t.where + ": " +
                            std::strerror(t.lastError));
    }
  }
  if (expect && find.Heard() < *expect) {
    WriteLine(stderr, "tideload-cli find: " + std::to_string(find.Heard()) + " of " +
                          std::to_string(*expect) + " expected interfaces answered");
  }
  return 0;
}

}  // namespace tl::cli
