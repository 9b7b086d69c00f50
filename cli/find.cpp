// tideload-cli find: one search with the device selection dialog on the
// console host, out of every interface or to given addresses, then the tree
// it shows, as text or JSON.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/find_output.h"
#include "cli/exit_status.h"
#include "cli/options.h"
#include "discovery/device_record.h"
#include "discovery/find_dialog.h"
#include "platform/console/console_host.h"
#include "platform/console/console_system.h"
#include "platform/console/console_text.h"

namespace tl::cli {

namespace {

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
    const int error = LastSystemError();
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

bool Broadcasts(const NetworkInterface& i) { return i.up && i.canBroadcast; }

// Where the search goes: the limited broadcast out of each chosen interface
// (by routing alone when none can broadcast), then each --to address.
// Empty with the reason in *error when a name is no such interface.
std::vector<Target> ChooseTargets(const std::vector<NetworkInterface>& interfaces,
                                  const std::vector<std::string>& names,
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
    for (const std::string& name : names) {
      const NetworkInterface* found = nullptr;
      for (const NetworkInterface& i : interfaces) {
        if (i.name == name && Broadcasts(i)) found = &i;
      }
      if (found == nullptr) {
        std::string usable;
        for (const NetworkInterface& i : interfaces) {
          if (Broadcasts(i)) usable += (usable.empty() ? "" : ", ") + i.name;
        }
        *error = "no interface '" + name + "' that is up and can broadcast (" +
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

int RunFind(int argc, char** argv) {
  FindOptions options;
  const std::unique_ptr<CLI::App> command = FindCommand(options);
  if (std::optional<int> status = ParseCommandLine(*command, argc, argv)) return *status;
  FoundFormat format;
  format.json = options.json;
  format.order = options.sort == FindSort::kAddress ? FoundOrder::Address
                 : options.sort == FindSort::kName  ? FoundOrder::Name
                                                    : FoundOrder::Answered;
  const double seconds = options.seconds;
  const std::optional<std::size_t> expect = options.expect;

  ConsoleHost host("tideload");
  const std::vector<NetworkInterface> interfaces = host.network.Interfaces();
  for (const NetworkInterface& i : interfaces) format.interfaceNames[i.id] = i.name;
  const std::vector<std::string>& names = options.interfaces;
  const std::vector<std::uint32_t>& to = options.to;
  std::string error;
  std::vector<Target> targets =
      ChooseTargets(interfaces, names, to, to.empty() || options.broadcast || !names.empty(), &error);
  if (targets.empty()) return UsageError(*command, error);

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
                          SystemErrorText(lastError));
    return ExitStatus(Outcome::kConnectionFailed);
  }
  for (const Target& t : targets) {
    if (t.sent == 0) {
      WriteLine(stderr, "tideload-cli find: nothing could be sent " + t.where + ": " +
                            SystemErrorText(t.lastError));
    }
  }
  if (expect && find.Heard() < *expect) {
    WriteLine(stderr, "tideload-cli find: " + std::to_string(find.Heard()) + " of " +
                          std::to_string(*expect) + " expected interfaces answered");
  }
  return 0;
}

}  // namespace tl::cli
