// tideload-cli find: one search with the device selection dialog on the
// console host, then the tree it shows, as text or JSON.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/json.h"
#include "discovery/device_record.h"
#include "discovery/find_dialog.h"
#include "platform/console/console_host.h"
#include "platform/console/console_text.h"
#include "platform/core/code_page.h"

namespace tl::cli {

namespace {

constexpr int kMostSeconds = 3600;

// The host's network, counting the datagrams that went out: a search whose
// every send failed (no route, say) heard nothing because it asked nothing.
class SendCountingNetwork final : public Network {
 public:
  explicit SendCountingNetwork(Network& network) : network_(network) {}

  int sent = 0;
  int lastSendError = 0;

  bool Startup(int major, int minor, int* grantedMajor, int* grantedMinor) override {
    return network_.Startup(major, minor, grantedMajor, grantedMinor);
  }
  std::unique_ptr<UdpSocket> OpenUdp(std::uint16_t localPort, SocketEvents& events) override {
    std::unique_ptr<UdpSocket> socket = network_.OpenUdp(localPort, events);
    if (!socket) return nullptr;
    return std::make_unique<Socket>(std::move(socket), *this);
  }
  std::unique_ptr<TcpSocket> ConnectTcp(std::uint32_t address, std::uint16_t port,
                                        SocketEvents& events) override {
    return network_.ConnectTcp(address, port, events);
  }
  long LastError() override { return network_.LastError(); }

 private:
  class Socket final : public UdpSocket {
   public:
    Socket(std::unique_ptr<UdpSocket> socket, SendCountingNetwork& network)
        : socket_(std::move(socket)), network_(network) {}
    bool EnableBroadcast() override { return socket_->EnableBroadcast(); }
    long SendTo(const void* data, std::size_t length, std::uint32_t address,
                std::uint16_t port) override {
      const long n = socket_->SendTo(data, length, address, port);
      if (n >= 0) {
        ++network_.sent;
      } else {
        network_.lastSendError = errno;
      }
      return n;
    }
    long ReceiveFrom(void* buffer, std::size_t capacity, std::uint32_t* fromAddress,
                     std::uint16_t* fromPort) override {
      return socket_->ReceiveFrom(buffer, capacity, fromAddress, fromPort);
    }

   private:
    std::unique_ptr<UdpSocket> socket_;
    SendCountingNetwork& network_;
  };

  Network& network_;
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

std::string MacText(const MacAddress& m) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

void PrintText(const HeadlessWindow::Control& tree, TreeItem item, int depth) {
  const HeadlessWindow::TreeNode& node = tree.nodes.at(item);
  WriteLine(stdout, std::string(2 * static_cast<std::size_t>(depth), ' ') + Cp1252ToUtf8(node.text));
  for (TreeItem child : node.children) PrintText(tree, child, depth + 1);
}

std::string Json(const HeadlessWindow::Control& tree, TreeItem item) {
  const HeadlessWindow::TreeNode& node = tree.nodes.at(item);
  const auto* r = static_cast<const DeviceRecord*>(node.data);
  std::string s = "{\"label\": " + JsonString(node.text) + ", \"stateImage\": " + std::to_string(node.stateImage);
  if (r != nullptr) {
    s += ", \"address\": \"" + DottedAddress(r->connectAddress()) + "\"";
    s += ", \"source\": \"" + DottedAddress(r->sourceAddress) + "\"";
    s += std::string(", \"dhcp\": ") + (r->usesDhcp() ? "true" : "false");
    s += std::string(", \"consistent\": ") + (r->isConsistent() ? "true" : "false");
    s += ", \"kind\": " + JsonString(r->kindName());
    s += ", \"interfaceMac\": \"" + MacText(r->interfaceMac()) + "\"";
    s += ", \"deviceMac\": \"" + MacText(DeviceMacOf(r->infoBlock)) + "\"";
    s += ", \"name\": " + JsonString(r->nameText);
    s += ", \"app\": " + JsonString(r->appText);
  }
  s += ", \"children\": [";
  for (std::size_t i = 0; i < node.children.size(); ++i) {
    if (i) s += ", ";
    s += Json(tree, node.children[i]);
  }
  return s + "]}";
}

}  // namespace

const CommandSpec kFindCommand = {
    "find",
    "",
    0,
    0,
    "search the local network for modules and print what answered",
    {{"--json", nullptr, nullptr, "a JSON array instead of the indented tree"},
     {"--seconds", nullptr, "S", "listen S more seconds after the third heard list (1)"}},
    "  One search: the request, then three heard lists 1.5 s apart. It broadcasts:\n"
    "  run it on the modules' network or inside the test LAN. Interfaces beyond\n"
    "  the list's bound (ten thousand) are left out, and stderr says how many.\n"
    "  It ends with 0 also when nothing answered, and with connection-failed when the\n"
    "  socket could not be opened or no request could be sent (no route, say).\n",
};

int RunFind(int argc, char** argv) {
  GivenOptions given;
  if (std::optional<int> status = ParseCommandLine(kFindCommand, argc, argv, given)) return *status;
  const bool json = given.Has("--json");
  double seconds = 1.0;
  if (const char* text = given.Value("--seconds"); text != nullptr && !ParseSeconds(text, &seconds)) {
    return UsageError(kFindCommand, std::string("bad --seconds '") + text + "' (a number, 0 to " +
                                        std::to_string(kMostSeconds) + ")");
  }

  ConsoleHost host("tideload");
  SendCountingNetwork network(host.network);
  Host counted = CurrentHost();
  counted.network = &network;
  SetHost(counted);
  FindDialog find(nullptr);
  bool opened = true;
  host.ui.hooks().onDialogShown = [&](HeadlessWindow& window) {
    opened = find.Socket() != nullptr && find.Socket()->IsOpen();
    const auto endMs = static_cast<std::uint64_t>(
        FindDialog::kSearchPeriodMs * FindDialog::kHeardListsPerSearch + seconds * 1000.0);
    HeadlessWindow* w = &window;
    host.loop.Post(endMs, [&, w] {
      const HeadlessWindow::Control* tree = w->Find(kIdDeviceTree);
      if (json) {
        std::string out = "[";
        for (std::size_t i = 0; i < tree->roots.size(); ++i) {
          out += i ? ",\n " : "";
          out += Json(*tree, tree->roots[i]);
        }
        std::printf("%s]\n", out.c_str());
      } else {
        for (TreeItem root : tree->roots) PrintText(*tree, root, 0);
      }
      std::fflush(stdout);
      if (const std::size_t leftOut = find.Devices().LeftOut(); leftOut > 0) {
        WriteLine(stderr, std::to_string(leftOut) + " further interfaces were left out");
      }
      w->Close();
    });
  };
  find.DoModal();
  if (!opened) return ExitStatus(Outcome::kConnectionFailed);
  if (network.sent == 0) {
    WriteLine(stderr, std::string("tideload-cli find: no search request could be sent: ") +
                          std::strerror(network.lastSendError));
    return ExitStatus(Outcome::kConnectionFailed);
  }
  return 0;
}

}  // namespace tl::cli
