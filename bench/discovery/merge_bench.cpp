// The time to merge 749 replies and show them in a tree, against merging
// them into the bare model, measured in the same run. Then the cost of one
// more reply in a long list against that in a short one: it stays flat.
//   bench_discovery_merge [ROUNDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "discovery/device_list.h"
#include "platform/headless/event_loop.h"
#include "platform/headless/headless_ui.h"

namespace {

using Clock = std::chrono::steady_clock;

tl::Reply Interface(unsigned i) {
  tl::Reply r;
  r.nameText = "Module " + std::to_string(i);
  r.appText = ":App";
  r.sourceAddress = 0x0A4D0000u + i + 1;
  for (int b = 0; b < 3; ++b) r.infoBlock[tl::info::kInterfaceMac + 3 + b] = static_cast<std::uint8_t>(i >> (16 - 8 * b));
  return r;
}

// 749 interfaces: most alone, every tenth device with three interfaces, in
// a scrambled order, each heard twice (the repeat is dropped).
std::vector<tl::Reply> Replies() {
  std::vector<tl::Reply> out;
  for (unsigned n = 0; n < 749; ++n) {
    unsigned i = (n * 421) % 749;
    tl::Reply r = Interface(i);
    if (i % 10 < 3) {
      r.infoBlock[tl::info::kDeviceMac] = 0x02;
      r.infoBlock[tl::info::kDeviceMac + 5] = static_cast<std::uint8_t>(1 + i / 10);
    }
    r.infoBlock[tl::info::kInterfaceKind] = static_cast<std::uint8_t>(i % 3);
    out.push_back(r);
  }
  std::vector<tl::Reply> twice = out;
  twice.insert(twice.end(), out.begin(), out.end());
  return twice;
}

// Every reply a new interface: new keys scrambled over the whole range, or
// (group) further inconsistent children of one interface of one device.
std::vector<tl::Reply> NewInterfaces(unsigned count, bool group) {
  std::vector<tl::Reply> out;
  for (unsigned n = 0; n < count; ++n) {
    tl::Reply r = Interface(group ? 0 : (n * 7919u) % count);
    if (group) {
      r.infoBlock[tl::info::kDeviceMac] = 0x02;
      if (n > 0) {
        r.infoBlock[tl::info::kInterfaceMac + 5] = 1;
        r.infoBlock[tl::info::kAddressMarker] = tl::info::kMarkerPresent;
        r.sourceAddress = 0x0B000000u + n;
      }
    }
    out.push_back(r);
  }
  return out;
}

// Microseconds per reply for replies [from, to), merged after those before.
double PerReply(const std::vector<tl::Reply>& replies, std::size_t from, std::size_t to, int rounds) {
  double total = 0;
  for (int round = 0; round < rounds; ++round) {
    tl::DeviceList list;
    for (std::size_t i = 0; i < from; ++i) list.AddReply(replies[i], nullptr);
    auto t0 = Clock::now();
    for (std::size_t i = from; i < to; ++i) list.AddReply(replies[i], nullptr);
    total += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  }
  return total / rounds / static_cast<double>(to - from);
}

class WindowView : public tl::DeviceTreeView {
 public:
  explicit WindowView(tl::DialogWindow& w) : w_(w) {}
  tl::TreeItem InsertLast(tl::TreeItem p, std::string_view t) override { return w_.TreeInsertLast(tl::kIdDeviceTree, p, t); }
  void SetText(tl::TreeItem i, std::string_view t) override { w_.TreeSetText(tl::kIdDeviceTree, i, t); }
  void SetStateImage(tl::TreeItem i, int x) override { w_.TreeSetStateImage(tl::kIdDeviceTree, i, x); }
  void SetData(tl::TreeItem i, tl::DeviceRecord* r) override { w_.TreeSetData(tl::kIdDeviceTree, i, r); }
  void Select(tl::TreeItem i) override { w_.TreeSelect(tl::kIdDeviceTree, i); }

 private:
  tl::DialogWindow& w_;
};

class Blank : public tl::Dialog {
 public:
  Blank() : Dialog(tl::kDialogFind, nullptr) {}
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  const std::vector<tl::Reply> replies = Replies();
  tl::EventLoop loop(tl::EventLoop::Clock::Virtual);
  tl::HeadlessUi ui(loop, "bench");
  Blank dialog;

  double bare = 0, shown = 0;
  std::size_t records = 0, items = 0;
  for (int round = 0; round < rounds; ++round) {
    {
      auto t0 = Clock::now();
      tl::DeviceList list;
      for (const tl::Reply& r : replies) list.AddReply(r, nullptr);
      records = list.Size();
      bare += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    }
    {
      tl::HeadlessWindow window(ui, dialog, tl::FindDialogLayout(tl::kDialogFind));
      WindowView view(window);
      auto t0 = Clock::now();
      tl::DeviceList list;
      for (const tl::Reply& r : replies) list.AddReply(r, &view);
      shown += std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
      items = window.Find(tl::kIdDeviceTree)->nodes.size();
    }
  }
  std::printf("merge of %zu replies (749 interfaces, %zu top-level records, %zu tree items), %d rounds\n",
              replies.size(), records, items, rounds);
  std::printf("  bare model:     %9.1f us per search\n", bare / rounds);
  std::printf("  headless tree:  %9.1f us per search\n", shown / rounds);
  std::printf("  ratio tree/bare: %.2f\n", shown / bare);

  // New interfaces up to the bound: the first thousand into a short list
  // against the last thousand into a long one.
  constexpr std::size_t kAll = tl::DeviceList::kMostInterfaces, kStep = 1000;
  const int growthRounds = rounds > 40 ? rounds / 20 : 2;
  for (bool group : {false, true}) {
    const std::vector<tl::Reply> flood = NewInterfaces(kAll, group);
    const double small = PerReply(flood, 0, kStep, growthRounds);
    const double large = PerReply(flood, kAll - kStep, kAll, growthRounds);
    std::printf("a new %s, per reply: %.3f us into 0..%zu, %.3f us into %zu..%zu; ratio long/short: %.2f\n",
                group ? "child of one interface" : "top-level record", small, kStep, large, kAll - kStep,
                kAll, large / small);
  }
  return 0;
}
