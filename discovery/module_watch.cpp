#include "discovery/module_watch.h"

namespace tl {

ModuleWatch::ModuleWatch(Network* network, std::function<std::uint64_t()> nowMs) : nowMs_(std::move(nowMs)) {
  if (network == nullptr) {
    openError_ = -1;
    return;
  }
  socket_ = network->OpenUdp(0, *this);  // a port of the system's choosing
  if (socket_ == nullptr) openError_ = network->LastError();
}

ModuleWatch::~ModuleWatch() = default;

void ModuleWatch::Identify(std::uint32_t address) {
  Watched& w = watched_[address] = Watched{};
  w.state.sinceMs = nowMs_();
  Search(address, w);
}

void ModuleWatch::AwaitComeback(std::uint32_t address, const ModuleIdentity& before) {
  Watched& w = watched_[address] = Watched{};
  w.before = before;
  w.state.sinceMs = nowMs_();
  Search(address, w);
}

void ModuleWatch::Forget(std::uint32_t address) { watched_.erase(address); }

const ModuleWatch::State* ModuleWatch::Find(std::uint32_t address) const {
  auto it = watched_.find(address);
  return it == watched_.end() ? nullptr : &it->second.state;
}

bool ModuleWatch::AllSeen() const {
  for (const auto& [address, w] : watched_) {
    if (!w.state.seen) return false;
  }
  return true;
}

void ModuleWatch::Search(std::uint32_t address, Watched& w) {
  w.searchedThisRound = false;
  w.answeredThisRound = false;
  w.roundEndMs = nowMs_() + kRoundMs;
  const auto request = BuildSearchRequest();
  if (socket_ == nullptr || socket_->SendTo(request.data(), request.size(), address, kDiscoveryPort) < 0) {
    w.state.searchFailed = true;
    return;
  }
  ++w.state.searches;
  w.searchedThisRound = true;
}

void ModuleWatch::Tick() {
  const std::uint64_t now = nowMs_();
  for (auto& [address, w] : watched_) {
    if (w.state.seen || now < w.roundEndMs) continue;
    if (w.searchedThisRound && !w.answeredThisRound) w.state.silentSeen = true;
    Search(address, w);
  }
}

void ModuleWatch::OnReceive(int error) {
  if (error != 0 || socket_ == nullptr) return;
  std::uint32_t from = 0;
  std::uint16_t fromPort = 0;
  const long n = socket_->ReceiveFromOn(buffer_.data(), buffer_.size(), &from, &fromPort, nullptr);
  if (n <= 0) return;
  auto it = watched_.find(from);
  if (it == watched_.end() || fromPort != kDiscoveryPort || it->second.state.searches == 0) return;
  Reply reply;
  if (!DecodeReply(buffer_.data(), static_cast<std::size_t>(n), from, reply)) return;
  ModuleIdentity identity;
  identity.interfaceMac = InterfaceMacOf(reply.infoBlock);
  identity.name = reply.nameText;
  identity.app = reply.appText.empty() ? reply.appText : reply.appText.substr(1);
  Take(it->second, identity);
}

void ModuleWatch::Take(Watched& w, const ModuleIdentity& identity) {
  if (w.state.seen) return;
  if (!w.before) {
    w.state.seen = identity;
    w.state.seenMs = nowMs_();
    return;
  }
  if (identity.interfaceMac != w.before->interfaceMac) {
    w.state.other = identity;
    return;
  }
  w.answeredThisRound = true;
  if (w.state.silentSeen || identity.app != w.before->app) {
    w.state.seen = identity;
    w.state.seenMs = nowMs_();
  } else {
    w.state.answeredAsBefore = true;
  }
}

}  // namespace tl
