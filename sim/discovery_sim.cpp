// tideload-sim discover: the module side of the discovery exchange.
//
// Each emulated interface answers a search request ("ELIN" 'R') with one
// reply, and a heard list ("ELI2" 'V') only when its own entry is missing.
// Replies carry: "OMBR", a type byte, a 148-byte information block (length,
// static address, interface MAC at 107, device MAC at 118, kind at 124,
// marker at 125, current address at 126), the name, NUL, the application
// text, NUL. Standard library and POSIX only.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace sim {

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

struct Module {
  std::string name = "Sim Module";
  std::string app = "SimApp";
  std::array<std::uint8_t, 6> mac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
  std::array<std::uint8_t, 6> device{};
  int kind = 0;
  std::uint32_t staticAddress = 0;    // 0: DHCP
  std::uint32_t currentAddress = 0;
  int marker = -1;                    // -1: 0xAA when a current address is given
  std::uint32_t from = 0;             // address the replies leave from; 0: the host's
  int type = 'Q';
};

struct Options {
  std::vector<Module> modules;
  std::uint16_t port = 20034;
  double loss = 0.0;
  unsigned seed = 1;
  bool loopback = false;
  double seconds = 0;  // 0: until a signal
  int spreadMs = 0;    // replies spread at random over this many ms
  std::string readyFile;
  bool verbose = false;
  bool answerEveryList = false;  // a module that does not read the heard list
  unsigned floodRate = 0;        // replies a second from ever-new interfaces
  // A reboot played when this file appears: answering as before for
  // rebootDelay seconds, silent for rebootSeconds, then running appAfter
  // (and, for a device swapped in meanwhile, with another MAC and name).
  std::string rebootFile;
  double rebootDelay = 0;
  double rebootSeconds = 2;
  std::string appAfter = "Rebooted";
  std::optional<std::array<std::uint8_t, 6>> macAfter;
  std::optional<std::string> nameAfter;
};

bool ParseAddress(const std::string& text, std::uint32_t* out) {
  if (text == "dhcp" || text.empty()) {
    *out = 0;
    return true;
  }
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *out = ntohl(a.s_addr);
  return true;
}

bool ParseMac(const std::string& text, std::array<std::uint8_t, 6>* out) {
  unsigned b[6];
  if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6) return false;
  for (int i = 0; i < 6; ++i) {
    if (b[i] > 255) return false;
    (*out)[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b[i]);
  }
  return true;
}

// "name=Pump,app=Valve,mac=..,device=..,kind=1,static=10.0.0.5|dhcp,
//  current=10.0.0.6,marker=0xAA,from=10.0.0.9,type=81"; ',' inside a value
// can be written as "\,".
bool ParseModule(const std::string& moduleText, Module* m, std::string* error) {
  std::vector<std::string> parts;
  std::string cur;
  for (std::size_t i = 0; i < moduleText.size(); ++i) {
    if (moduleText[i] == '\\' && i + 1 < moduleText.size()) {
      cur += moduleText[++i];
    } else if (moduleText[i] == ',') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += moduleText[i];
    }
  }
  parts.push_back(cur);
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    std::size_t eq = p.find('=');
    if (eq == std::string::npos) {
      *error = "missing '=' in '" + p + "'";
      return false;
    }
    std::string key = p.substr(0, eq), value = p.substr(eq + 1);
    bool ok = true;
    if (key == "name") m->name = value;
    else if (key == "app") m->app = value;
    else if (key == "mac") ok = ParseMac(value, &m->mac);
    else if (key == "device") ok = ParseMac(value, &m->device);
    else if (key == "kind") m->kind = std::atoi(value.c_str());
    else if (key == "static") ok = ParseAddress(value, &m->staticAddress);
    else if (key == "current") ok = ParseAddress(value, &m->currentAddress);
    else if (key == "marker") m->marker = static_cast<int>(std::strtol(value.c_str(), nullptr, 0));
    else if (key == "from") ok = ParseAddress(value, &m->from);
    else if (key == "type") m->type = static_cast<int>(std::strtol(value.c_str(), nullptr, 0));
    else {
      *error = "unknown key '" + key + "'";
      return false;
    }
    if (!ok) {
      *error = "bad value in '" + p + "'";
      return false;
    }
  }
  return true;
}

}  // namespace

namespace {

std::string MacText(const std::array<std::uint8_t, 6>& m) {
  char buf[18];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
  return buf;
}

void Put32(std::string& d, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

// The address the module's replies leave from, as the program will see it.
std::uint32_t ReplySource(const Module& m, std::uint32_t hostAddress) {
  return m.from != 0 ? m.from : hostAddress;
}

int MarkerOf(const Module& m) { return m.marker >= 0 ? m.marker : (m.currentAddress != 0 ? 0xAA : 0); }

// The module thinks itself reported consistently when it tells no current
// address, or the address it answers from is one it reports.
bool Consistent(const Module& m, std::uint32_t source) {
  return MarkerOf(m) != 0xAA || source == m.currentAddress || source == m.staticAddress;
}

std::string BuildReply(const Module& m) {
  std::string d(5 + 148, '\0');
  std::memcpy(&d[0], "OMBR", 4);
  d[4] = static_cast<char>(m.type);
  const std::size_t b = 5;
  Put32(d, b + 0, 148);
  Put32(d, b + 4, m.staticAddress);
  for (std::size_t i = 0; i < 6; ++i) {
    d[b + 107 + i] = static_cast<char>(m.mac[i]);
    d[b + 118 + i] = static_cast<char>(m.device[i]);
  }
  d[b + 124] = static_cast<char>(m.kind);
  d[b + 125] = static_cast<char>(MarkerOf(m));
  Put32(d, b + 126, m.currentAddress);
  d += m.name;
  d += '\0';
  d += m.app;
  d += '\0';
  return d;
}

// The local address the system would send from towards dest.
std::uint32_t LocalAddressTowards(std::uint32_t dest) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return 0;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(9);
  sa.sin_addr.s_addr = htonl(dest);
  std::uint32_t out = 0;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0) out = ntohl(local.sin_addr.s_addr);
  }
  ::close(fd);
  return out;
}

struct Pending {
  std::chrono::steady_clock::time_point due;
  std::size_t module;
  std::uint32_t toAddress;
  std::uint16_t toPort;
};

class Server {
 public:
  explicit Server(Options options) : o_(std::move(options)), rng_(o_.seed) {}

  int Run() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return Fail("socket");
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    int big = 4 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    // Broadcasts only reach a socket bound to the wildcard address.
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(o_.port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return Fail("bind");
    FindInterfaces();
    std::fprintf(stderr, "tideload-sim discover: %zu interface(s) on UDP %u%s\n", o_.modules.size(), o_.port,
                 o_.loopback ? " (loopback mode)" : "");
    if (!o_.readyFile.empty()) std::ofstream(o_.readyFile) << "ready\n";

    const auto start = std::chrono::steady_clock::now();
    std::array<std::uint8_t, 2048> buf{};
    while (!g_stop) {
      auto now = std::chrono::steady_clock::now();
      if (o_.seconds > 0 && now - start >= std::chrono::duration<double>(o_.seconds)) break;
      int timeout = floodStart_ ? 1 : 200;
      if (!pending_.empty()) {
        auto next = pending_.begin()->first;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
        timeout = static_cast<int>(ms < 0 ? 0 : (ms > 200 ? 200 : ms));
      }
      pollfd p{fd_, POLLIN, 0};
      int n = ::poll(&p, 1, timeout);
      if (n > 0 && (p.revents & POLLIN)) {
        sockaddr_in from{};
        iovec iov{buf.data(), buf.size()};
        alignas(cmsghdr) char control[256];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        ssize_t got = ::recvmsg(fd_, &msg, 0);
        int arrivedOn = 0;
        std::uint32_t sentTo = 0;  // the address the datagram was sent to
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
          if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            arrivedOn = info.ipi_ifindex;
            sentTo = ntohl(info.ipi_addr.s_addr);
          }
        }
        if (got > 0) {
          Handle(buf.data(), static_cast<std::size_t>(got), ntohl(from.sin_addr.s_addr), ntohs(from.sin_port),
                 arrivedOn, sentTo);
        }
      }
      FlushDue();
      Flood();
    }
    ::close(fd_);
    std::fprintf(stderr, "tideload-sim discover: %lu repl%s sent, %lu dropped\n", sent_, sent_ == 1 ? "y" : "ies",
                 dropped_);
    // What the loss did: interfaces that never got a reply out, and those
    // whose answer to a search was dropped but which answered later.
    std::size_t later = 0;
    for (std::size_t i : searchDropped_) later += answered_.count(i);
    std::fprintf(stderr, "search replies dropped: %zu, answered later: %zu\n", searchDropped_.size(), later);
    std::string never;
    for (std::size_t i = 0; i < o_.modules.size(); ++i) {
      if (!answered_.count(i)) never += " " + o_.modules[i].name;
    }
    std::fprintf(stderr, "never answered:%s\n", never.c_str());
    return 0;
  }

 private:
  int Fail(const char* what) {
    std::fprintf(stderr, "tideload-sim discover: %s: %s\n", what, std::strerror(errno));
    return 1;
  }

  // The interface that owns each module's reply address: a host with two
  // interfaces hears a broadcast on both, and each module answers on its own.
  void FindInterfaces() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return;
    for (Module& m : o_.modules) {
      if (m.from == 0) continue;
      for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        auto* in = reinterpret_cast<sockaddr_in*>(a->ifa_addr);
        if (ntohl(in->sin_addr.s_addr) == m.from) interfaceOf_[&m - o_.modules.data()] = static_cast<int>(if_nametoindex(a->ifa_name));
      }
    }
    ::freeifaddrs(list);
  }

  void Handle(const std::uint8_t* d, std::size_t n, std::uint32_t from, std::uint16_t fromPort, int arrivedOn,
              std::uint32_t sentTo) {
    if (n < 5) return;
    const bool search = std::memcmp(d, "ELIN", 4) == 0 && d[4] == 0x52;
    const bool heard = std::memcmp(d, "ELI2", 4) == 0 && d[4] == 0x56;
    if (!search && !heard) return;
    if (Rebooting()) return;
    if (search && o_.floodRate > 0 && !floodStart_) {
      floodStart_ = std::chrono::steady_clock::now();
      floodTo_ = from;
      floodPort_ = fromPort;
    }
    std::map<std::uint16_t, bool> entries;
    if (heard) {
      if (n < 10) return;
      std::size_t count = (n - 10) / 2;
      for (std::size_t i = 0; i < count; ++i) entries[static_cast<std::uint16_t>((d[5 + 2 * i] << 8) | d[6 + 2 * i])] = true;
    }
    if (o_.verbose) {
      std::fprintf(stderr, "%s from %s:%u (%zu entries)\n", search ? "search" : "heard list",
                   inet_ntoa(in_addr{htonl(from)}), fromPort, entries.size());
    }
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> spread(0, o_.spreadMs > 0 ? o_.spreadMs : 0);
    for (std::size_t i = 0; i < o_.modules.size(); ++i) {
      const Module& m = o_.modules[i];
      auto own = interfaceOf_.find(static_cast<std::ptrdiff_t>(i));
      // A search sent to one interface's own address is that interface's to
      // answer, whichever card it came in on; a broadcast is answered by the
      // interfaces of the card it came in on.
      const bool toOne = std::any_of(o_.modules.begin(), o_.modules.end(),
                                     [sentTo](const Module& other) { return other.from != 0 && other.from == sentTo; });
      if (toOne) {
        if (m.from != sentTo) continue;
      } else if (!o_.loopback && arrivedOn != 0 && own != interfaceOf_.end() && own->second != arrivedOn) {
        continue;
      }
      if (heard && !o_.answerEveryList) {
        std::uint32_t source = ReplySource(m, HostAddress(from));
        std::uint8_t high = Consistent(m, source) ? m.mac[4] : static_cast<std::uint8_t>(m.mac[4] ^ 0x80);
        if (entries.count(static_cast<std::uint16_t>((high << 8) | m.mac[5]))) continue;
      }
      if (o_.loss > 0 && unit(rng_) < o_.loss) {
        ++dropped_;
        if (search) searchDropped_.insert(i);
        continue;
      }
      auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(o_.spreadMs > 0 ? spread(rng_) : 0);
      pending_.emplace(due, Pending{due, i, from, fromPort});
    }
    FlushDue();
  }

  // While a reboot is played the modules are silent; afterwards they run
  // the new application.
  bool Rebooting() {
    if (o_.rebootFile.empty() || rebooted_) return false;
    if (!rebootSeen_) {
      if (::access(o_.rebootFile.c_str(), F_OK) != 0) return false;
      rebootSeen_ = std::chrono::steady_clock::now();
    }
    const auto since = std::chrono::steady_clock::now() - *rebootSeen_;
    if (since < std::chrono::duration<double>(o_.rebootDelay)) return false;
    if (since < std::chrono::duration<double>(o_.rebootDelay + o_.rebootSeconds)) return true;
    for (Module& m : o_.modules) {
      m.app = o_.appAfter;
      if (o_.macAfter) m.mac = *o_.macAfter;
      if (o_.nameAfter) m.name = *o_.nameAfter;
    }
    rebooted_ = true;
    return false;
  }

  std::uint32_t HostAddress(std::uint32_t towards) {
    auto it = hostAddress_.find(towards);
    if (it != hostAddress_.end()) return it->second;
    std::uint32_t a = LocalAddressTowards(towards);
    hostAddress_[towards] = a;
    return a;
  }

  void FlushDue() {
    auto now = std::chrono::steady_clock::now();
    while (!pending_.empty() && pending_.begin()->first <= now) {
      Pending p = pending_.begin()->second;
      pending_.erase(pending_.begin());
      Send(p);
    }
  }

  // From the first search on: replies of new interfaces (MAC 06:ff and a
  // running number) at the flood rate, to whoever searched.
  void Flood() {
    if (!floodStart_) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - *floodStart_).count();
    const auto due = static_cast<unsigned long>(elapsed * o_.floodRate);
    Module m;
    m.name = "Flood";
    m.app = "F";
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(floodPort_);
    dest.sin_addr.s_addr = htonl(floodTo_);
    for (unsigned batch = 0; floodSent_ < due && batch < 1000; ++batch) {
      const unsigned long n = floodSent_++;
      m.mac = {0x06, 0xFF, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
               static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
      const std::string d = BuildReply(m);
      if (::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest) >= 0) ++sent_;
    }
  }

  void Send(const Pending& p) {
    const Module& m = o_.modules[p.module];
    std::string d = BuildReply(m);
    std::uint32_t to = p.toAddress;
    std::uint32_t fromAddress = m.from;
    if (o_.loopback) {
      // Replies come from 127.0.0.1; the real address rides at the end.
      std::uint32_t real = ReplySource(m, HostAddress(p.toAddress));
      d.append(4, '\0');
      Put32(d, d.size() - 4, real);
      to = 0x7F000001u;
      fromAddress = 0x7F000001u;
    }
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(p.toPort);
    dest.sin_addr.s_addr = htonl(to);
    iovec iov{d.data(), d.size()};
    msghdr msg{};
    msg.msg_name = &dest;
    msg.msg_namelen = sizeof dest;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (fromAddress != 0) {
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&msg);
      c->cmsg_level = IPPROTO_IP;
      c->cmsg_type = IP_PKTINFO;
      c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
      in_pktinfo info{};
      info.ipi_spec_dst.s_addr = htonl(fromAddress);
      std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    if (::sendmsg(fd_, &msg, 0) < 0) {
      std::fprintf(stderr, "tideload-sim discover: send for %s: %s\n", m.name.c_str(), std::strerror(errno));
      return;
    }
    ++sent_;
    answered_.insert(p.module);
    if (o_.verbose) std::fprintf(stderr, "reply %s (%s)\n", m.name.c_str(), MacText(m.mac).c_str());
  }

  Options o_;
  std::mt19937 rng_;
  int fd_ = -1;
  std::multimap<std::chrono::steady_clock::time_point, Pending> pending_;
  std::map<std::uint32_t, std::uint32_t> hostAddress_;
  std::map<std::ptrdiff_t, int> interfaceOf_;
  std::set<std::size_t> answered_, searchDropped_;
  std::optional<std::chrono::steady_clock::time_point> floodStart_;
  std::optional<std::chrono::steady_clock::time_point> rebootSeen_;
  bool rebooted_ = false;
  std::uint32_t floodTo_ = 0;
  std::uint16_t floodPort_ = 0;
  unsigned long floodSent_ = 0;
  unsigned long sent_ = 0, dropped_ = 0;
};

bool LoadConfig(const std::string& path, std::vector<Module>* out, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.pop_back();
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    Module m;
    if (!ParseModule(line.substr(first), &m, error)) {
      *error = path + ":" + std::to_string(number) + ": " + *error;
      return false;
    }
    out->push_back(m);
  }
  return true;
}

}  // namespace

namespace {

// The options of the discovery side that shape the modules, before they
// are made.
struct Fleet {
  int count = 0;
  int countStart = 0;
  std::vector<std::uint32_t> countFrom;
};

// A check that also takes the value in: an empty answer, or what is wrong.
CLI::Option* Taken(CLI::Option* option, std::function<std::string(const std::string&)> take) {
  return option->check(CLI::Validator([take = std::move(take)](std::string& value) { return take(value); }, "", ""));
}

// Every option of the discovery side, declared once: parsing, checks, help.
void Declare(CLI::App& app, Options& o, Fleet& fleet) {
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  Taken(app.add_option("--module",
                       "one interface (repeatable); DESC is comma-separated key=value:\n"
                       "name, app, mac, device (shared MAC of a multi-interface device),\n"
                       "kind (0 Ethernet, 1 WiFi, 2 Ethernet2), static (address or dhcp),\n"
                       "current (reported current address), marker (default 0xAA with\n"
                       "current, else 0), from (local address to reply from), type"),
        [&o](const std::string& text) {
          Module m;
          std::string error;
          if (!ParseModule(text, &m, &error)) return error;
          o.modules.push_back(m);
          return std::string();
        })
      ->type_name("DESC")->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  Taken(app.add_option("--config", "one DESC per line; '#' starts a comment"),
        [&o](const std::string& path) {
          std::string error;
          return LoadConfig(path, &o.modules, &error) ? std::string() : error;
        })
      ->type_name("FILE")->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--count", fleet.count, "N more interfaces: name Sim-<i>, mac 02:00:00:00:HI:LO, dhcp")
      ->type_name("N")->check(CLI::Range(0, 65535).description(""));
  app.add_option("--count-start", fleet.countStart, "with --count: the first one is number K (default 0)")
      ->type_name("K");
  Taken(app.add_option("--count-from", "with --count: reply addresses, comma-separated, used in turn"),
        [&fleet](const std::string& list) {
          std::stringstream items(list);
          std::string item;
          while (std::getline(items, item, ',')) {
            std::uint32_t address = 0;
            if (!ParseAddress(item, &address)) return "bad address '" + item + "'";
            fleet.countFrom.push_back(address);
          }
          return std::string();
        })
      ->type_name("LIST");
  app.add_option("--loss", o.loss, "drop this share (0..1) of the replies, seeded")->type_name("SHARE");
  app.add_option("--seed", o.seed, "seed for the loss and the spread (default 1)")->type_name("N");
  app.add_option("--spread", o.spreadMs, "send each reply after a random delay up to MS ms")->type_name("MS");
  app.add_flag("--loopback", o.loopback, "reply from 127.0.0.1 to 127.0.0.1, real address in the last 4 bytes");
  app.add_option("--port", o.port, "UDP port to serve (default 20034)")->type_name("P");
  app.add_option("--seconds", o.seconds, "stop after S seconds (default: on SIGINT/SIGTERM)")->type_name("S");
  app.add_option("--ready-file", o.readyFile, "write F once the socket is bound")->type_name("F");
  app.add_flag("--answer-every-list", o.answerEveryList, "answer every heard list, also when it names the interface");
  app.add_option("--flood", o.floodRate,
                 "after the first search, RATE replies a second, each from a new\n"
                 "interface (MAC 06:ff:...), until the simulator stops")
      ->type_name("RATE");
  app.add_option("--reboot-file", o.rebootFile,
                 "once F exists (the update side's --reboot-file), play a reboot:\n"
                 "answer as before for --reboot-delay, silent for --reboot-seconds,\n"
                 "then every module runs --app-after; --mac-after and --name-after\n"
                 "play another device that took the address")
      ->type_name("F");
  app.add_option("--reboot-delay", o.rebootDelay, "with --reboot-file: answer as before for S seconds (0)")
      ->type_name("S");
  app.add_option("--reboot-seconds", o.rebootSeconds, "with --reboot-file: silent for S seconds (2)")->type_name("S");
  app.add_option("--app-after", o.appAfter, "with --reboot-file: the application after it (Rebooted)")
      ->type_name("TEXT");
  Taken(app.add_option("--mac-after", "with --reboot-file: the interface MAC after it"),
        [&o](const std::string& text) {
          std::array<std::uint8_t, 6> mac{};
          if (!ParseMac(text, &mac)) return "bad MAC '" + text + "'";
          o.macAfter = mac;
          return std::string();
        })
      ->type_name("MAC");
  app.add_option("--name-after", o.nameAfter, "with --reboot-file: the name after it")->type_name("NAME");
  app.add_flag("--verbose", o.verbose, "log every request and reply on stderr");
  app.footer(
      "Exit status: 0 stopped by --seconds or a signal; 1 the UDP port could not be\n"
      "opened; 2 a usage error.");
}

void PrintDiscoveryHelp(std::FILE* out) { std::fputs(DiscoveryHelp().c_str(), out); }

}  // namespace

std::string DiscoveryHelp() {
  Options o;
  Fleet fleet;
  CLI::App app("", "tideload-sim discover");
  Declare(app, o, fleet);
  AddHelpAndVersion(app);
  return app.help();
}

int RunDiscoverySim(int argc, char** argv) {
  Options o;
  Fleet fleet;
  CLI::App app("", "tideload-sim discover");
  Declare(app, o, fleet);
  if (std::optional<int> status = ParseSide(app, argc, argv, PrintDiscoveryHelp)) return *status;
  const int count = fleet.count;
  const int countStart = fleet.countStart;
  const std::vector<std::uint32_t>& countFrom = fleet.countFrom;
  for (int k = 0; k < count; ++k) {
    const int i = countStart + k;
    Module m;
    m.name = "Sim-" + std::to_string(i);
    m.mac = {0x02, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
    if (!countFrom.empty()) m.from = countFrom[static_cast<std::size_t>(k) % countFrom.size()];
    o.modules.push_back(m);
  }
  if (o.modules.empty()) o.modules.push_back(Module{});
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  return Server(std::move(o)).Run();
}

}  // namespace sim
