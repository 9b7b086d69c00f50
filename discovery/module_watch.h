// Known modules searched one by one, each at its own address, from a port
// the system picks: what a module runs before its update, and when it is
// back after its reboot. A reply counts only when it comes from the
// module's own address and discovery port, to this socket, after a search
// went to that module. Nothing more can be checked: the protocol has no
// authentication, and a host on the same wire can still forge a reply.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "discovery/datagrams.h"
#include "platform/core/platform.h"

namespace tl {

// Who answered, as its reply says.
struct ModuleIdentity {
  MacAddress interfaceMac{};
  std::string name;
  std::string app;  // as the module sends it, without the leading ":"
  bool operator==(const ModuleIdentity&) const = default;
};

class ModuleWatch final : public SocketEvents {
 public:
  // A module is searched again this long after its last search; a search
  // that got no answer by then counts as a round of silence.
  static constexpr std::uint64_t kRoundMs = 1000;

  struct State {
    // Identify: the first answer. After a reboot: the answer that shows the
    // module back.
    std::optional<ModuleIdentity> seen;
    std::uint64_t sinceMs = 0;  // when the watch began
    std::uint64_t seenMs = 0;
    unsigned searches = 0;           // sent so far
    bool searchFailed = false;       // a search could not be sent
    bool silentSeen = false;         // a round passed without its answer
    bool answeredAsBefore = false;   // its old self answered, before any silence
    std::optional<ModuleIdentity> other;  // the last answer naming another MAC
  };

  // nowMs: the host's clock.
  ModuleWatch(Network* network, std::function<std::uint64_t()> nowMs);
  ~ModuleWatch();
  ModuleWatch(const ModuleWatch&) = delete;
  ModuleWatch& operator=(const ModuleWatch&) = delete;

  // False when the socket could not be opened: no search can be made.
  bool IsOpen() const { return socket_ != nullptr; }
  long OpenError() const { return openError_; }

  // What the module at address runs now: searched until it answers.
  void Identify(std::uint32_t address);
  // After its reboot choice: searched until it answers with the MAC it had
  // (before), having been silent for a round since, or running another
  // application.
  void AwaitComeback(std::uint32_t address, const ModuleIdentity& before);
  void Forget(std::uint32_t address);
  // Searches again every module whose round is over; call it often
  // (a tenth of a round or so).
  void Tick();

  const State* Find(std::uint32_t address) const;
  bool AllSeen() const;

  void OnReceive(int error) override;

 private:
  struct Watched {
    State state;
    std::optional<ModuleIdentity> before;  // set: awaiting the comeback
    bool searchedThisRound = false;
    bool answeredThisRound = false;
    std::uint64_t roundEndMs = 0;
  };
  void Search(std::uint32_t address, Watched& watched);
  void Take(Watched& watched, const ModuleIdentity& identity);

  std::function<std::uint64_t()> nowMs_;
  std::unique_ptr<UdpSocket> socket_;
  long openError_ = 0;
  std::map<std::uint32_t, Watched> watched_;
  std::array<std::uint8_t, kLargestDatagram> buffer_{};
};

}  // namespace tl
