#include "cli/update_batch.h"

#include <cstdio>
#include <map>
#include <memory>

#include "cli/json.h"
#include "cli/module_watch.h"
#include "discovery/device_record.h"
#include "discovery/find_dialog.h"
#include "platform/console/console_interrupt.h"
#include "platform/console/console_progress.h"
#include "platform/console/console_text.h"
#include "platform/console/console_update.h"
#include "platform/core/code_page.h"
#include "platform/core/layout.h"

namespace tl::cli {

namespace {

constexpr std::uint64_t kTickMs = 250;  // the terminal's rows follow the bytes sent

const char kCompleteText[] = "Programming Complete without Error.";
const char kFailedText[] = "Update Failed";

std::string JsonOptional(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : "null";
}

std::string ResultJson(const UpdateResult& r) {
  const bool loaded = r.filePlatform.has_value();
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::string s = "{\"address\": \"" + DottedAddress(r.address) + "\"";
  s += ", \"file\": " + JsonPath(r.file);
  s += ", \"filePlatform\": " + JsonOptional(r.filePlatform);
  s += ", \"modulePlatform\": " + JsonOptional(r.modulePlatform);
  s += ", \"startAddress\": " + (loaded ? std::to_string(r.startAddress) : "null");
  s += ", \"imageLength\": " + (loaded ? std::to_string(r.imageLength) : "null");
  s += ", \"sha256\": " + (r.sha256.empty() ? std::string("null") : "\"" + r.sha256 + "\"");
  s += ", \"bytesSent\": " + std::to_string(r.bytesSent);
  s += std::string(", \"seconds\": ") + seconds;
  s += std::string(", \"result\": \"") + ResultName(r.outcome) + "\"";
  s += ", \"messages\": [";
  for (std::size_t i = 0; i < r.messages.size(); ++i) {
    s += (i ? ", " : "") + JsonString(r.messages[i]);
  }
  s += "], \"lastCode\": " + (r.lastCode ? std::to_string(*r.lastCode) : "null");
  s += ", \"platformsAgree\": ";
  s += r.platformsAgree ? (*r.platformsAgree ? "true" : "false") : "null";
  s += ", \"verify\": ";
  if (r.verify) {
    const bool back = r.verify->appAfter.has_value();
    std::snprintf(seconds, sizeof seconds, "%.3f", r.verify->seconds);
    s += std::string("{\"cameBack\": ") + (back ? "true" : "false");
    s += std::string(", \"seconds\": ") + (back ? seconds : "null");
    s += ", \"appBefore\": " + JsonOptional(r.verify->appBefore);
    s += ", \"appAfter\": " + JsonOptional(r.verify->appAfter) + "}";
  } else {
    s += "null";
  }
  return s + "}";
}

// "10.77.1.1: back after 3.1 s, running Valve 2.2 (before: Valve 2.1)"
std::string ComebackText(const UpdateResult& r, double waited) {
  const UpdateResult::Comeback& v = *r.verify;
  char seconds[32];
  std::string text = DottedAddress(r.address) + ": ";
  if (v.appAfter) {
    std::snprintf(seconds, sizeof seconds, "%.1f", v.seconds);
    text += std::string("back after ") + seconds + " s, running " + Cp1252ToUtf8(*v.appAfter);
  } else {
    std::snprintf(seconds, sizeof seconds, "%.0f", waited);
    text += std::string("not back within ") + seconds + " s of its reboot";
  }
  return text + " (before: " + (v.appBefore ? Cp1252ToUtf8(*v.appBefore) : "not found") + ")";
}

// "10.77.1.3: the file's platform RT40, the module's RT40-512: they agree"
std::string DryRunText(const UpdateResult& r) {
  const bool named = r.modulePlatform && !r.modulePlatform->empty();
  const std::string module = named ? Cp1252ToUtf8(*r.modulePlatform) : "(none named)";
  return DottedAddress(r.address) + ": the file's platform " + Cp1252ToUtf8(r.filePlatform.value_or("")) +
         ", the module's " + module + ": they " + (r.platformsAgree.value_or(false) ? "agree" : "differ");
}

class Batch {
 public:
  Batch(ConsoleHost& host, const std::vector<UpdateTarget>& targets, BatchSettings& settings)
      : host_(host),
        targets_(targets),
        settings_(settings),
        several_(targets.size() > 1),
        progress_(several_),
        network_(host.network, [this](SocketEvents& owner, ConsoleNetwork::Event event) {
          OnConnectionEvent(owner, event);
        }),
        results_(targets.size()) {}

  int Run();

 private:
  struct Slot {
    std::unique_ptr<UpdateRun> run;
    std::unique_ptr<HeadlessWindow> window;
    std::uint64_t startMs = 0;
    int percent = 0;
    std::uint64_t shownBytes = 0;
  };

  std::string Prefix(std::uint32_t address) const {
    return several_ ? DottedAddress(address) + ": " : "";
  }
  std::string Label(const Slot& slot) const {
    return several_ ? DottedAddress(slot.run->Result().address) : "";
  }
  // A line of ours for the run whose handler is running, if any.
  void Say(std::string_view text) {
    UpdateRun* run = UpdateRun::Active();
    progress_.Line((run ? Prefix(run->Result().address) : "") + std::string(text));
  }
  void OnMessageBox(HeadlessMessageBox& box);
  void OnProgress(HeadlessWindow& window, int position);
  void OnTick();
  void OnConnectionEvent(SocketEvents& owner, ConsoleNetwork::Event event);
  void OnInterrupt(ConsoleUpdateUser& user);
  void Start(std::size_t index);
  void FinishEnded();
  void Report(std::size_t index, UpdateResult result);
  void Verify();
  void PrintSummary() const;
  int ExitStatusOfAll() const;

  ConsoleHost& host_;
  const std::vector<UpdateTarget>& targets_;
  BatchSettings& settings_;
  bool several_;
  ConsoleProgress progress_;
  ConsoleNetwork network_;
  std::optional<ImageIdentity> reference_;
  std::map<std::size_t, Slot> running_;
  std::vector<std::optional<UpdateResult>> results_;
  std::size_t next_ = 0;
  bool interrupted_ = false;
  std::map<std::uint32_t, Sighting> before_;  // with --verify
};

int Batch::Run() {
  if (settings_.verifySeconds) {
    // What the modules run now: one search period is enough for those that
    // answer at all.
    std::vector<std::uint32_t> addresses;
    for (const UpdateTarget& t : targets_) {
      if (t.leftOut.empty()) addresses.push_back(t.address);
    }
    before_ = WatchModules(host_, addresses, 0, FindDialog::kSearchPeriodMs / 1000.0, [] { return false; });
  }
  const Host previousHost = CurrentHost();
  Host host = previousHost;
  host.network = &network_;
  SetHost(host);
  const HeadlessUi::Hooks previousHooks = host_.ui.hooks();
  host_.ui.hooks().onMessageBox = [this](HeadlessMessageBox& box) { OnMessageBox(box); };
  host_.ui.hooks().onProgress = [this](HeadlessWindow& window, int id, int position) {
    if (id == kIdProgress) OnProgress(window, position);
  };
  {
    ConsoleUpdateUser user(host_, settings_.userName, settings_.password, !several_,
                           {[this] { progress_.End(); }, [this](std::string_view text) { Say(text); }});
    ConsoleInterrupt interrupt(host_.loop, [this, &user] { OnInterrupt(user); });
    const std::uint64_t tick =
        IsTerminal(stderr) ? host_.loop.AddTimer(kTickMs, kTickMs, [this] { OnTick(); }) : 0;
    for (;;) {
      while (!interrupted_ && next_ < targets_.size() && running_.size() < settings_.jobs) {
        Start(next_++);
      }
      FinishEnded();
      if (running_.empty() && (interrupted_ || next_ == targets_.size())) break;
      if (!running_.empty()) host_.loop.RunOnce();
    }
    host_.loop.RemoveTimer(tick);
    if (settings_.verifySeconds && !interrupted_) Verify();
  }  // the terminal as it was
  host_.ui.hooks() = previousHooks;
  SetHost(previousHost);

  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (results_[i]) continue;  // not started before the interruption
    UpdateResult r;
    r.address = targets_[i].address;
    r.file = settings_.run.file;
    Report(i, r);
  }
  progress_.End();
  if (settings_.json && settings_.verifySeconds) {
    for (const std::optional<UpdateResult>& r : results_) std::printf("%s\n", ResultJson(*r).c_str());
    std::fflush(stdout);
  }
  const int status = ExitStatusOfAll();
  if (interrupted_ && status != 0) std::fputs("tideload-cli: update interrupted\n", stderr);
  if (several_ && !settings_.json) PrintSummary();
  return status;
}

void Batch::OnMessageBox(HeadlessMessageBox& box) {
  UpdateRun* run = UpdateRun::Active();
  if (run != nullptr) run->NoteMessage(box.text);
  progress_.Line((run ? Prefix(run->Result().address) : "") + MessageLineText(box.text));
  box.Close();
}

void Batch::OnProgress(HeadlessWindow& window, int position) {
  for (auto& [index, slot] : running_) {
    if (slot.window.get() != &window) continue;
    slot.percent = position;
    const ConsoleProgress::Figures f = slot.run->Figures(position, host_.loop.NowMs() - slot.startMs);
    slot.shownBytes = f.bytesSent;
    progress_.Show(static_cast<int>(index), Label(slot), f);
  }
}

// Between progress lines, the rows follow the bytes sent; nothing is drawn
// while nothing moves (a prompt may be on the line).
void Batch::OnTick() {
  for (auto& [index, slot] : running_) {
    if (slot.window == nullptr || slot.window->Ended()) continue;
    const ConsoleProgress::Figures f = slot.run->Figures(slot.percent, host_.loop.NowMs() - slot.startMs);
    if (f.bytesSent == slot.shownBytes) continue;
    slot.shownBytes = f.bytesSent;
    progress_.Show(static_cast<int>(index), Label(slot), f);
  }
}

void Batch::OnConnectionEvent(SocketEvents& owner, ConsoleNetwork::Event event) {
  for (auto& [index, slot] : running_) {
    if (!slot.run->Owns(owner)) continue;
    // After the end, the close is the module's ordinary last step.
    const bool ended = slot.window == nullptr || slot.window->Ended();
    if (ended && event == ConsoleNetwork::Event::kClosedByPeer) return;
    slot.run->OnConnectionEvent(event);
    return;
  }
}

void Batch::OnInterrupt(ConsoleUpdateUser& user) {
  interrupted_ = true;
  user.Interrupt();
  for (auto& [index, slot] : running_) {
    if (slot.window != nullptr && !slot.window->Ended()) slot.window->Close();
  }
}

void Batch::Start(std::size_t index) {
  const UpdateTarget& target = targets_[index];
  if (!target.leftOut.empty()) {
    UpdateResult r;
    r.address = target.address;
    r.file = settings_.run.file;
    r.outcome = Outcome::kConnectionFailed;
    r.messages.push_back("tideload-cli: " + target.leftOut);
    progress_.Line(Prefix(target.address) + r.messages.back());
    Report(index, std::move(r));
    return;
  }
  Slot& slot = running_[index];
  slot.run = std::make_unique<UpdateRun>(target.address, settings_.run, reference_);
  slot.startMs = host_.loop.NowMs();
  slot.window = host_.ui.Open(*slot.run);
}

void Batch::FinishEnded() {
  for (auto it = running_.begin(); it != running_.end();) {
    Slot& slot = it->second;
    if (slot.window != nullptr && !slot.window->Ended()) {
      ++it;
      continue;
    }
    const int dialogResult = slot.window != nullptr ? host_.ui.Finish(*slot.window) : -1;
    slot.window.reset();
    UpdateResult r =
        slot.run->Finish(dialogResult, static_cast<double>(host_.loop.NowMs() - slot.startMs) / 1000.0);
    slot.run.reset();  // the connection closes, the image goes
    progress_.Drop(static_cast<int>(it->first));
    const bool ok = r.outcome == Outcome::kOk;
    // The hand-over's words; none for a dry run, none after Ctrl-C.
    if (!settings_.run.dryRun && (ok || !interrupted_)) {
      r.messages.push_back(ok ? kCompleteText : kFailedText);
      progress_.Line(Prefix(r.address) + r.messages.back());
    }
    Report(it->first, std::move(r));
    it = running_.erase(it);
  }
}

// The modules that were updated (and rebooted) answer again, and what they
// run now; one that does not is timed out.
void Batch::Verify() {
  std::vector<std::uint32_t> addresses;
  for (const std::optional<UpdateResult>& r : results_) {
    if (r && r->outcome == Outcome::kOk) addresses.push_back(r->address);
  }
  const double waited = *settings_.verifySeconds;
  // The first search after one search period: a module answers the moment
  // after its last line with what it still runs, before it has gone down.
  const std::map<std::uint32_t, Sighting> after = WatchModules(
      host_, addresses, FindDialog::kSearchPeriodMs, waited, [this] { return interrupted_; });
  for (std::optional<UpdateResult>& r : results_) {
    if (!r || r->outcome != Outcome::kOk) continue;
    UpdateResult::Comeback& v = r->verify.emplace();
    if (auto b = before_.find(r->address); b != before_.end()) v.appBefore = b->second.appText;
    if (auto a = after.find(r->address); a != after.end()) {
      v.appAfter = a->second.appText;
      v.seconds = a->second.seconds;
    } else if (!interrupted_) {
      r->outcome = Outcome::kTimedOut;
    }
    r->messages.push_back(ComebackText(*r, waited));
    progress_.Line(r->messages.back());
  }
}

void Batch::Report(std::size_t index, UpdateResult result) {
  if (settings_.json) {
    // With --verify, once it is known how each one came back.
    if (!settings_.verifySeconds) std::printf("%s\n", ResultJson(result).c_str());
  } else if (settings_.run.dryRun && result.platformsAgree) {
    WriteLine(stdout, DryRunText(result));
  }
  std::fflush(stdout);
  if (several_) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", result.seconds);
    progress_.Line(Prefix(result.address) + ResultName(result.outcome) + " after " + seconds + " s");
  }
  results_[index] = std::move(result);
}

void Batch::PrintSummary() const {
  std::printf("%-16s %-18s %8s\n", "ADDRESS", "RESULT", "SECONDS");
  for (const std::optional<UpdateResult>& r : results_) {
    std::printf("%-16s %-18s %8.1f\n", DottedAddress(r->address).c_str(), ResultName(r->outcome),
                r->seconds);
  }
  std::fflush(stdout);
}

int Batch::ExitStatusOfAll() const {
  for (const std::optional<UpdateResult>& r : results_) {
    if (r->outcome == Outcome::kOk) continue;
    return ExitStatus(interrupted_ ? Outcome::kCancelled : r->outcome);
  }
  return ExitStatus(Outcome::kOk);
}

}  // namespace

int RunUpdates(ConsoleHost& host, const std::vector<UpdateTarget>& targets, BatchSettings& settings) {
  Batch batch(host, targets, settings);
  return batch.Run();
}

}  // namespace tl::cli
