#include "cli/update_batch.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <set>

#include "cli/update_report.h"
#include "discovery/device_record.h"
#include "discovery/module_watch.h"
#include "platform/console/console_interrupt.h"
#include "platform/console/console_progress.h"
#include "platform/console/console_prompt.h"
#include "platform/console/console_text.h"
#include "platform/core/code_page.h"
#include "platform/core/sha256.h"
#include "update/update_session.h"

namespace tl::cli {

namespace {

constexpr std::uint64_t kTickMs = 250;       // the terminal's rows follow the bytes sent
constexpr std::uint64_t kWatchTickMs = 100;  // a tenth of a search round
// Before its update, a module is searched for this many rounds at most.
constexpr std::uint64_t kRoundsBefore = 3;
constexpr int kMostWaitMs = 1000;

const char kCompleteText[] = "Programming Complete without Error.";
const char kFailedText[] = "Update Failed";

Outcome OutcomeOf(UpdateEnding ending, std::optional<bool> platformsAgreed) {
  switch (ending) {
    case UpdateEnding::kCompleted: return Outcome::kOk;
    case UpdateEnding::kChecked: return platformsAgreed.value_or(false) ? Outcome::kOk : Outcome::kRefused;
    case UpdateEnding::kRefused: return Outcome::kRefused;
    case UpdateEnding::kTimedOut: return Outcome::kTimedOut;
    case UpdateEnding::kConnectionFailed: return Outcome::kConnectionFailed;
    case UpdateEnding::kCancelled: break;
  }
  return Outcome::kCancelled;
}

std::string Seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

class Batch {
 public:
  Batch(ConsoleHost& host, const std::vector<UpdateTarget>& targets, const BatchSettings& settings)
      : host_(host),
        targets_(targets),
        settings_(settings),
        several_(targets.size() > 1),
        progress_(several_),
        prompt_(host.loop),
        waveEnds_(settings.waveEnds.empty() ? std::vector<std::size_t>{targets.size()} : settings.waveEnds),
        results_(targets.size()) {}

  int Run();

 private:
  // One module's update in progress: its session, and what it told so far.
  struct Running final : UpdateObserver {
    Running(Batch& owner, std::size_t at) : batch(owner), index(at) {}
    void OnProgress(int shown) override { batch.OnProgress(*this, shown); }
    void OnMessage(const std::string& text) override { batch.OnMessage(*this, text); }
    void OnCredentialsWanted() override { batch.OnCredentialsWanted(*this); }
    void OnEnding(UpdateEnding) override { batch.OnEnding(*this); }

    Batch& batch;
    std::size_t index;
    std::unique_ptr<UpdateSession> session;
    UpdateResult result;
    std::uint64_t startMs = 0;
    std::uint64_t idleTimer = 0;
    int percent = 0;
    std::uint64_t shownBytes = 0;
    bool ended = false;
  };
  // A module that was updated and rebooted, awaited back.
  struct Awaited {
    UpdateResult result;
    std::uint64_t endMs = 0;
    std::uint64_t deadlineMs = 0;
  };
  // What leaves a module alone: a result and its word, without an update.
  struct Decision {
    Outcome outcome;
    std::string why;
  };

  std::string Prefix(std::uint32_t address) const {
    return several_ ? DottedAddress(address) + ": " : "";
  }
  std::size_t WaveOf(std::size_t index) const;
  UpdateResult NewResult(std::size_t index) const;
  bool Load();
  void ReportLoadFailure();
  bool NeedsSearch() const;
  void Identify(const std::vector<std::size_t>& indices);
  std::optional<Decision> WithoutUpdate(std::size_t index) const;
  bool Planned() const;
  void PrintPlan();
  void RunWaves();
  void RunWave(std::size_t begin, std::size_t end);
  void RunSessions();
  int WaitMs() const;
  bool BudgetSpent() const;
  Decision Stopped() const;
  void Start(std::size_t index, UpdateResult result);
  void StartDue();
  void Leave(std::size_t index, const Decision& decision);
  void OnProgress(Running& run, int percent);
  void OnMessage(Running& run, const std::string& text);
  void OnCredentialsWanted(Running& run);
  void OnEnding(Running& run);
  void OnTick();
  void OnInterrupt();
  void ShowRow(Running& run);
  void FinishEnded();
  void AwaitComeback(std::size_t index, UpdateResult result);
  void CheckComebacks();
  std::string NotBackText(const ModuleWatch::State& state) const;
  void Verdict(std::size_t index, UpdateResult result, const std::string& notBackBecause);
  void Report(std::size_t index, UpdateResult result);
  int ExitStatusOfAll() const;

  ConsoleHost& host_;
  const std::vector<UpdateTarget>& targets_;
  const BatchSettings& settings_;
  bool several_;
  ConsoleProgress progress_;
  ConsolePasswordPrompt prompt_;
  Running* promptFor_ = nullptr;
  std::shared_ptr<const UpdateImage> image_;
  std::string sha256_;
  std::vector<std::string> loadMessages_;
  std::vector<std::size_t> waveEnds_;
  // The modules of the running wave: waiting for a slot, running, and
  // waiting to be tried again (by when).
  std::deque<std::pair<std::size_t, UpdateResult>> waiting_;
  std::map<std::size_t, std::unique_ptr<Running>> running_;
  std::multimap<std::uint64_t, std::pair<std::size_t, UpdateResult>> retries_;
  std::size_t failures_ = 0;
  bool budgetSaid_ = false;
  bool interrupted_ = false;
  bool logFailed_ = false;
  const std::string operator_ = OperatorName();
  const std::string hostName_ = HostName();
  // Searches: who answered at each address before its update.
  std::unique_ptr<ModuleWatch> watch_;
  std::map<std::uint32_t, ModuleIdentity> before_;
  std::set<std::uint32_t> searched_;
  std::map<std::size_t, Awaited> awaited_;
  std::vector<std::optional<UpdateResult>> results_;
};

int Batch::Run() {
  {
    ConsoleInterrupt interrupt(host_.loop, [this] { OnInterrupt(); });
    if (Load()) {
      RunWaves();
    } else {
      ReportLoadFailure();
    }
  }
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (!results_[i]) Report(i, NewResult(i));  // not started before the interruption
  }
  progress_.End();
  const int status = ExitStatusOfAll();
  if (interrupted_ && status != 0) std::fputs("tideload-cli: update interrupted\n", stderr);
  if (several_ && !settings_.json) {
    std::vector<UpdateResult> all;
    for (const std::optional<UpdateResult>& r : results_) all.push_back(*r);
    PrintSummary(stdout, all);
  }
  return status;
}

std::size_t Batch::WaveOf(std::size_t index) const {
  return static_cast<std::size_t>(std::upper_bound(waveEnds_.begin(), waveEnds_.end(), index) - waveEnds_.begin()) +
         1;
}

UpdateResult Batch::NewResult(std::size_t index) const {
  UpdateResult r;
  r.address = targets_[index].address;
  r.file = settings_.file;
  r.wave = WaveOf(index);
  if (image_ != nullptr) {
    r.filePlatform = image_->platformName;
    r.startAddress = image_->startAddress;
    r.imageLength = image_->imageLength;
    r.sha256 = sha256_;
  }
  if (auto b = before_.find(r.address); b != before_.end()) r.before = b->second;
  return r;
}

// The one load of the call, before any module is contacted; its messages
// are printed once and belong to every module.
bool Batch::Load() {
  HeadlessUi::Hooks& hooks = host_.ui.hooks();
  const auto previous = hooks.onMessageBox;
  hooks.onMessageBox = [this, &previous](HeadlessMessageBox& box) {
    loadMessages_.push_back(box.text);
    if (previous) {
      previous(box);
    } else {
      box.Close();
    }
  };
  std::optional<LoadedImage> loaded = LoadSRecordImage(settings_.file);
  hooks.onMessageBox = previous;
  if (!loaded) return false;
  image_ = ShareImage(std::move(*loaded), platformName);
  const std::optional<Sha256Digest> digest = Sha256Of(image_->imageData.get(), image_->imageLength);
  sha256_ = digest ? Sha256Hex(*digest) : std::string();
  return true;
}

void Batch::ReportLoadFailure() {
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    UpdateResult r = NewResult(i);
    if (!targets_[i].leftOut.empty()) {
      r.outcome = Outcome::kConnectionFailed;
      r.messages.push_back("tideload-cli: " + targets_[i].leftOut);
      progress_.Line(Prefix(r.address) + r.messages.back());
    } else {
      r.outcome = Outcome::kLoadFailed;
      r.messages = loadMessages_;
      if (!settings_.dryRun) {
        r.messages.push_back(kFailedText);
        progress_.Line(Prefix(r.address) + kFailedText);
      }
    }
    Report(i, std::move(r));
  }
}

// Whether modules are searched before their update: to verify them after,
// to see what they run, or to see who answers at a listed device's address.
bool Batch::NeedsSearch() const {
  return settings_.verifySeconds || settings_.expectApp ||
         std::any_of(targets_.begin(), targets_.end(), [](const UpdateTarget& t) { return t.interfaceMac; });
}

// Who answers at each address before its update; a module not answering
// within a few rounds stays unknown.
void Batch::Identify(const std::vector<std::size_t>& indices) {
  if (watch_ == nullptr) {
    watch_ = std::make_unique<ModuleWatch>(&host_.network, [this] { return host_.loop.NowMs(); });
    if (!watch_->IsOpen()) {
      progress_.Line("tideload-cli: no search can be made (system error " + std::to_string(watch_->OpenError()) +
                     ")");
    }
  }
  if (!watch_->IsOpen()) return;
  std::vector<std::uint32_t> asked;
  for (std::size_t i : indices) {
    const std::uint32_t address = targets_[i].address;
    if (!searched_.insert(address).second) continue;
    watch_->Identify(address);
    asked.push_back(address);
  }
  const std::uint64_t until = host_.loop.NowMs() + kRoundsBefore * ModuleWatch::kRoundMs;
  while (!interrupted_ && !watch_->AllSeen() && host_.loop.NowMs() < until) host_.loop.RunOnce(100);
  for (std::uint32_t address : asked) {
    const ModuleWatch::State& state = *watch_->Find(address);
    if (state.seen) {
      before_[address] = *state.seen;
    } else if (settings_.verifySeconds && !interrupted_) {
      progress_.Line(DottedAddress(address) + ": does not answer a search: its comeback cannot be verified");
    }
    watch_->Forget(address);
  }
}

// Done before, another device at the address, or what it runs already: the
// module is left alone, without a byte sent to it.
std::optional<Batch::Decision> Batch::WithoutUpdate(std::size_t index) const {
  const UpdateTarget& target = targets_[index];
  if (settings_.earlier && DoneBefore(*settings_.earlier, target.address, sha256_)) {
    return Decision{Outcome::kSkipped, "done before"};
  }
  const auto before = before_.find(target.address);
  const bool answered = before != before_.end();
  if (target.interfaceMac) {
    if (!answered) {
      return Decision{Outcome::kDifferentDevice,
                      "no device answers a search at " + DottedAddress(target.address) +
                          ": which one is there cannot be told"};
    }
    if (before->second.interfaceMac != *target.interfaceMac) {
      return Decision{Outcome::kDifferentDevice, "a different device answers at " + DottedAddress(target.address) +
                                                     " (" + MacText(before->second.interfaceMac) + ", " +
                                                     Cp1252ToUtf8(before->second.name) + ")"};
    }
  }
  if (settings_.expectApp && answered && Cp1252ToUtf8(before->second.app) == *settings_.expectApp) {
    return Decision{Outcome::kSkipped, "already running " + *settings_.expectApp};
  }
  return std::nullopt;
}

// A dry run with rollout options shows the plan first.
bool Batch::Planned() const {
  return settings_.dryRun && !settings_.json &&
         (!settings_.waveEnds.empty() || settings_.failureBudget || settings_.earlier || NeedsSearch());
}

void Batch::PrintPlan() {
  std::vector<std::size_t> all;
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (targets_[i].leftOut.empty()) all.push_back(i);
  }
  if (NeedsSearch()) Identify(all);
  std::string budget = settings_.failureBudget ? "at most " + std::to_string(*settings_.failureBudget) + " failures"
                                               : "no limit on failures";
  WriteLine(stdout, "plan: " + std::to_string(targets_.size()) + " modules in " + std::to_string(waveEnds_.size()) +
                        " wave" + (waveEnds_.size() == 1 ? "" : "s") + ", " + budget);
  for (std::size_t w = 0; w < waveEnds_.size(); ++w) {
    const std::size_t begin = w == 0 ? 0 : waveEnds_[w - 1];
    std::string line = "wave " + std::to_string(w + 1) + " (" + std::to_string(waveEnds_[w] - begin) + "):";
    for (std::size_t i = begin; i < waveEnds_[w]; ++i) line += " " + DottedAddress(targets_[i].address);
    WriteLine(stdout, line);
  }
  for (std::size_t i : all) {
    if (const std::optional<Decision> d = WithoutUpdate(i)) {
      WriteLine(stdout, DottedAddress(targets_[i].address) + ": not updated: " + d->why);
    }
  }
  std::fflush(stdout);
}

void Batch::RunWaves() {
  const std::uint64_t tick = IsTerminal(stderr) ? host_.loop.AddTimer(kTickMs, kTickMs, [this] { OnTick(); }) : 0;
  const std::uint64_t watchTick = host_.loop.AddTimer(kWatchTickMs, kWatchTickMs, [this] {
    if (watch_) watch_->Tick();
  });
  if (Planned()) PrintPlan();
  for (std::size_t w = 0; w < waveEnds_.size() && !interrupted_; ++w) {
    const std::size_t begin = w == 0 ? 0 : waveEnds_[w - 1];
    if (BudgetSpent()) {
      for (std::size_t i = begin; i < targets_.size(); ++i) Leave(i, Stopped());
      break;
    }
    RunWave(begin, waveEnds_[w]);
  }
  host_.loop.RemoveTimer(tick);
  host_.loop.RemoveTimer(watchTick);
}

// One wave: what needs no update ends at once, the rest is updated, and the
// wave ends when every one of its modules has (and is back, with --verify).
void Batch::RunWave(std::size_t begin, std::size_t end) {
  std::vector<std::size_t> contacted;
  for (std::size_t i = begin; i < end; ++i) {
    if (!targets_[i].leftOut.empty()) {
      Leave(i, Decision{Outcome::kConnectionFailed, "tideload-cli: " + targets_[i].leftOut});
    } else if (settings_.earlier && DoneBefore(*settings_.earlier, targets_[i].address, sha256_)) {
      Leave(i, *WithoutUpdate(i));
    } else {
      contacted.push_back(i);
    }
  }
  if (NeedsSearch()) Identify(contacted);
  for (std::size_t i : contacted) {
    if (const std::optional<Decision> d = WithoutUpdate(i)) {
      Leave(i, *d);
    } else {
      waiting_.emplace_back(i, NewResult(i));
    }
  }
  RunSessions();
}

void Batch::RunSessions() {
  for (;;) {
    StartDue();
    FinishEnded();
    CheckComebacks();
    const bool noMore = interrupted_ || BudgetSpent() || (waiting_.empty() && retries_.empty());
    if (running_.empty() && awaited_.empty() && noMore) break;
    host_.loop.RunOnce(WaitMs());
  }
  // What was never started: stopped by the budget (or left to Ctrl-C); a
  // module still to be tried again keeps the result of its last attempt.
  for (const auto& [index, result] : waiting_) {
    if (!interrupted_ && BudgetSpent()) Leave(index, Stopped());
  }
  waiting_.clear();
  for (auto& [due, pending] : retries_) Report(pending.first, std::move(pending.second));
  retries_.clear();
}

int Batch::WaitMs() const {
  if (retries_.empty()) return kMostWaitMs;
  const std::uint64_t now = host_.loop.NowMs();
  const std::uint64_t due = retries_.begin()->first;
  return due <= now ? 0 : static_cast<int>(std::min<std::uint64_t>(due - now, kMostWaitMs));
}

bool Batch::BudgetSpent() const { return settings_.failureBudget && failures_ > *settings_.failureBudget; }

Batch::Decision Batch::Stopped() const {
  return Decision{Outcome::kStopped,
                  "not started: more than " + std::to_string(settings_.failureBudget.value_or(0)) + " modules failed"};
}

// New updates while there are free slots: retries that are due first, then
// the wave's modules in their order; none after Ctrl-C or once the budget
// is spent.
void Batch::StartDue() {
  while (!interrupted_ && !BudgetSpent() && running_.size() < settings_.jobs) {
    if (!retries_.empty() && retries_.begin()->first <= host_.loop.NowMs()) {
      auto [index, result] = std::move(retries_.begin()->second);
      retries_.erase(retries_.begin());
      Start(index, std::move(result));
    } else if (!waiting_.empty()) {
      auto [index, result] = std::move(waiting_.front());
      waiting_.pop_front();
      Start(index, std::move(result));
    } else {
      return;
    }
  }
}

void Batch::Start(std::size_t index, UpdateResult result) {
  Running& run = *(running_[index] = std::make_unique<Running>(*this, index));
  run.result = std::move(result);
  ++run.result.attempts;
  run.startMs = host_.loop.NowMs();
  UpdateSession::Choices choices;
  choices.rebootWhenComplete = settings_.reboot;
  choices.endWhenClosed = true;
  choices.checkOnly = settings_.dryRun;
  run.session = std::make_unique<UpdateSession>(&host_.network, image_, run.result.address, choices, run);
  run.idleTimer = host_.loop.AddTimer(UpdateSession::kIdlePeriodMs, UpdateSession::kIdlePeriodMs,
                                      [&run] { run.session->OnTimer(); });
  run.session->Start();
}

// A module ended without an update: its word, then its result.
void Batch::Leave(std::size_t index, const Decision& decision) {
  UpdateResult r = NewResult(index);
  r.outcome = decision.outcome;
  r.messages.push_back(decision.why);
  progress_.Line(Prefix(r.address) + decision.why);
  Report(index, std::move(r));
}

void Batch::OnProgress(Running& run, int percent) {
  run.percent = percent;
  ShowRow(run);
}

void Batch::ShowRow(Running& run) {
  ConsoleProgress::Figures f;
  f.percent = run.percent;
  f.bytesSent = run.session->BytesSent();
  f.imageLength = image_->imageLength;
  f.elapsedMs = host_.loop.NowMs() - run.startMs;
  run.shownBytes = f.bytesSent;
  progress_.Show(static_cast<int>(run.index), several_ ? DottedAddress(run.result.address) : "", f);
}

// Between progress lines, the rows follow the bytes sent; nothing is drawn
// while nothing moves (a prompt may be on the line).
void Batch::OnTick() {
  for (auto& [index, run] : running_) {
    if (!run->ended && run->session->BytesSent() != run->shownBytes) ShowRow(*run);
  }
}

void Batch::OnMessage(Running& run, const std::string& text) {
  run.result.messages.push_back(text);
  progress_.Line(Prefix(run.result.address) + MessageLineText(text));
}

void Batch::OnCredentialsWanted(Running& run) {
  UpdateSession& session = *run.session;
  if (settings_.password) {
    session.AnswerCredentials(settings_.userName, *settings_.password);
    return;
  }
  if (!several_ && ConsolePasswordPrompt::Possible() && !prompt_.Asking()) {
    progress_.End();
    promptFor_ = &run;
    const std::string& user = settings_.userName;
    prompt_.Ask("Password needed" + (user.empty() ? "" : " for " + user) + ": ",
                [this, &session](const std::string* typed) {
                  promptFor_ = nullptr;
                  if (typed != nullptr) {
                    session.AnswerCredentials(settings_.userName, *typed);
                  } else {
                    session.CancelCredentials();
                  }
                });
    return;
  }
  progress_.Line(Prefix(run.result.address) +
                 "tideload-cli: the module asks for a password: set TIDELOAD_PASSWORD or use --password-file");
  session.CancelCredentials();
}

void Batch::OnEnding(Running& run) {
  run.ended = true;
  host_.loop.RemoveTimer(run.idleTimer);
}

void Batch::OnInterrupt() {
  interrupted_ = true;
  prompt_.End();  // cancels its credentials, and so its update
  for (auto& [index, run] : running_) {
    if (!run->ended) run->session->Cancel();
  }
}

void Batch::FinishEnded() {
  for (auto it = running_.begin(); it != running_.end();) {
    Running& run = *it->second;
    if (!run.ended) {
      ++it;
      continue;
    }
    if (promptFor_ == &run) prompt_.End();
    const UpdateSession& session = *run.session;
    UpdateResult r = std::move(run.result);
    r.seconds = static_cast<double>(host_.loop.NowMs() - run.startMs) / 1000.0;
    r.bytesSent = session.BytesSent();
    r.outcome = OutcomeOf(session.Ending(), session.PlatformsAgreed());
    r.modulePlatform = session.ModulePlatform();
    r.lastCode = session.LastModuleCode();
    r.platformsAgree = session.PlatformsAgreed();
    const std::size_t index = it->first;
    it = running_.erase(it);  // the connection closes
    progress_.Drop(static_cast<int>(index));
    const bool ok = r.outcome == Outcome::kOk;
    // The hand-over's words; none for a dry run, none after Ctrl-C.
    if (!settings_.dryRun && (ok || !interrupted_)) {
      r.messages.push_back(ok ? kCompleteText : kFailedText);
      progress_.Line(Prefix(r.address) + r.messages.back());
    }
    if (Retryable(r.outcome) && r.attempts <= settings_.retries && !interrupted_) {
      const unsigned delay = RetryDelaySeconds(r.attempts);
      progress_.Line(DottedAddress(r.address) + ": " + ResultName(r.outcome) + "; tried again in " +
                     std::to_string(delay) + " s (attempt " + std::to_string(r.attempts + 1) + " of " +
                     std::to_string(settings_.retries + 1) + ")");
      retries_.emplace(host_.loop.NowMs() + delay * 1000ull, std::make_pair(index, std::move(r)));
    } else if (ok && settings_.verifySeconds && !settings_.dryRun) {
      AwaitComeback(index, std::move(r));
    } else {
      Report(index, std::move(r));
    }
  }
}

void Batch::AwaitComeback(std::size_t index, UpdateResult r) {
  r.verify.emplace();
  std::string why;
  if (watch_ == nullptr || !watch_->IsOpen()) {
    why = "not verified: no search could be made";
  } else if (!r.before) {
    why = "not verified: it did not answer a search before its update";
  }
  if (!why.empty()) {
    r.outcome = Outcome::kFailed;
    Verdict(index, std::move(r), why);
    return;
  }
  const std::uint64_t now = host_.loop.NowMs();
  watch_->AwaitComeback(r.address, *r.before);
  awaited_[index] = Awaited{std::move(r), now, now + static_cast<std::uint64_t>(*settings_.verifySeconds * 1000.0)};
}

void Batch::CheckComebacks() {
  const std::uint64_t now = host_.loop.NowMs();
  for (auto it = awaited_.begin(); it != awaited_.end();) {
    UpdateResult& r = it->second.result;
    const ModuleWatch::State& state = *watch_->Find(r.address);
    std::string why;
    if (state.seen) {
      r.verify->after = state.seen;
      r.verify->seconds = static_cast<double>(state.seenMs - it->second.endMs) / 1000.0;
      if (settings_.expectApp && Cp1252ToUtf8(state.seen->app) != *settings_.expectApp) r.outcome = Outcome::kWrongApp;
    } else if (state.searchFailed && state.searches == 0) {
      r.outcome = Outcome::kFailed;
      why = "not verified: no search could be made";
    } else if (interrupted_) {
      r.outcome = Outcome::kCancelled;
      why = "verify interrupted";
    } else if (now >= it->second.deadlineMs) {
      r.outcome = Outcome::kTimedOut;
      why = NotBackText(state);
    } else {
      ++it;
      continue;
    }
    watch_->Forget(r.address);
    Verdict(it->first, std::move(r), why);
    it = awaited_.erase(it);
  }
}

std::string Batch::NotBackText(const ModuleWatch::State& state) const {
  std::string text = "not back within " + Seconds(*settings_.verifySeconds) + " s of its reboot";
  if (state.answeredAsBefore && !state.silentSeen) text += "; it answered as before, never silent";
  if (state.other) {
    text += "; a device with another MAC (" + MacText(state.other->interfaceMac) + ", " +
            Cp1252ToUtf8(state.other->name) + ") answers there";
  }
  return text;
}

void Batch::Verdict(std::size_t index, UpdateResult r, const std::string& notBackBecause) {
  r.messages.push_back(ComebackText(r, notBackBecause, settings_.expectApp));
  progress_.Line(r.messages.back());
  Report(index, std::move(r));
}

void Batch::Report(std::size_t index, UpdateResult result) {
  if (settings_.json) {
    std::printf("%s\n", ResultJson(result).c_str());
  } else if (settings_.dryRun && result.platformsAgree) {
    WriteLine(stdout, DryRunText(result));
  }
  std::fflush(stdout);
  if (several_) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", result.seconds);
    progress_.Line(Prefix(result.address) + ResultName(result.outcome) + " after " + seconds + " s");
  }
  if (settings_.log != nullptr && !logFailed_ &&
      !settings_.log->Append(LogJson(result, LogContext{operator_, hostName_, UtcNow()}))) {
    logFailed_ = true;
    progress_.Line("tideload-cli: the log could not be written; what ends from now on is not in it");
  }
  if (IsFailure(result.outcome)) ++failures_;
  if (BudgetSpent() && !budgetSaid_) {
    budgetSaid_ = true;
    progress_.Line("tideload-cli: more than " + std::to_string(*settings_.failureBudget) +
                   " modules failed: no new update starts");
  }
  results_[index] = std::move(result);
}

int Batch::ExitStatusOfAll() const {
  for (const std::optional<UpdateResult>& r : results_) {
    if (Succeeded(r->outcome)) continue;
    return ExitStatus(interrupted_ ? Outcome::kCancelled : r->outcome);
  }
  return ExitStatus(Outcome::kOk);
}

}  // namespace

int RunUpdates(ConsoleHost& host, const std::vector<UpdateTarget>& targets, const BatchSettings& settings) {
  Batch batch(host, targets, settings);
  return batch.Run();
}

}  // namespace tl::cli
