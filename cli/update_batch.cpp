#include "cli/update_batch.h"

#include <cstdio>
#include <map>
#include <memory>

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
// Before the updates, each module to be verified is searched for this many
// rounds at most.
constexpr std::uint64_t kRoundsBefore = 3;

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

  std::string Prefix(std::uint32_t address) const {
    return several_ ? DottedAddress(address) + ": " : "";
  }
  UpdateResult NewResult(std::size_t index) const;
  bool Load();
  void ReportLoadFailure();
  void IdentifyModules();
  void RunSessions();
  void Start(std::size_t index);
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
  std::map<std::size_t, std::unique_ptr<Running>> running_;
  std::size_t next_ = 0;
  bool interrupted_ = false;
  // With --verify.
  std::unique_ptr<ModuleWatch> watch_;
  std::map<std::uint32_t, ModuleIdentity> before_;
  std::map<std::size_t, Awaited> awaited_;
  std::vector<std::optional<UpdateResult>> results_;
};

int Batch::Run() {
  {
    ConsoleInterrupt interrupt(host_.loop, [this] { OnInterrupt(); });
    if (Load()) {
      if (settings_.verifySeconds) IdentifyModules();
      RunSessions();
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

UpdateResult Batch::NewResult(std::size_t index) const {
  UpdateResult r;
  r.address = targets_[index].address;
  r.file = settings_.file;
  if (image_ != nullptr) {
    r.filePlatform = image_->platformName;
    r.startAddress = image_->startAddress;
    r.imageLength = image_->imageLength;
    r.sha256 = sha256_;
  }
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

// Who answers at each address before the updates: its comeback is told
// from others by that.
void Batch::IdentifyModules() {
  watch_ = std::make_unique<ModuleWatch>(&host_.network, [this] { return host_.loop.NowMs(); });
  if (!watch_->IsOpen()) {
    progress_.Line("tideload-cli: no search can be made for --verify (system error " +
                   std::to_string(watch_->OpenError()) + ")");
    return;
  }
  for (const UpdateTarget& t : targets_) {
    if (t.leftOut.empty()) watch_->Identify(t.address);
  }
  const std::uint64_t until = host_.loop.NowMs() + kRoundsBefore * ModuleWatch::kRoundMs;
  const std::uint64_t tick = host_.loop.AddTimer(kWatchTickMs, kWatchTickMs, [this] { watch_->Tick(); });
  while (!interrupted_ && !watch_->AllSeen() && host_.loop.NowMs() < until) host_.loop.RunOnce(100);
  host_.loop.RemoveTimer(tick);
  for (const UpdateTarget& t : targets_) {
    const ModuleWatch::State* state = watch_->Find(t.address);
    if (state == nullptr) continue;
    if (state->seen) {
      before_[t.address] = *state->seen;
    } else if (!interrupted_) {
      progress_.Line(DottedAddress(t.address) + ": does not answer a search: its comeback cannot be verified");
    }
    watch_->Forget(t.address);
  }
}

void Batch::RunSessions() {
  const std::uint64_t tick = IsTerminal(stderr) ? host_.loop.AddTimer(kTickMs, kTickMs, [this] { OnTick(); }) : 0;
  const std::uint64_t watchTick =
      watch_ ? host_.loop.AddTimer(kWatchTickMs, kWatchTickMs, [this] { watch_->Tick(); }) : 0;
  for (;;) {
    while (!interrupted_ && next_ < targets_.size() && running_.size() < settings_.jobs) Start(next_++);
    FinishEnded();
    CheckComebacks();
    if (running_.empty() && awaited_.empty() && (interrupted_ || next_ == targets_.size())) break;
    host_.loop.RunOnce();
  }
  host_.loop.RemoveTimer(tick);
  host_.loop.RemoveTimer(watchTick);
}

void Batch::Start(std::size_t index) {
  const UpdateTarget& target = targets_[index];
  if (!target.leftOut.empty()) {
    UpdateResult r = NewResult(index);
    r.outcome = Outcome::kConnectionFailed;
    r.messages.push_back("tideload-cli: " + target.leftOut);
    progress_.Line(Prefix(target.address) + r.messages.back());
    Report(index, std::move(r));
    return;
  }
  Running& run = *(running_[index] = std::make_unique<Running>(*this, index));
  run.result = NewResult(index);
  run.startMs = host_.loop.NowMs();
  UpdateSession::Choices choices;
  choices.rebootWhenComplete = settings_.reboot;
  choices.endWhenClosed = true;
  choices.checkOnly = settings_.dryRun;
  run.session = std::make_unique<UpdateSession>(&host_.network, image_, target.address, choices, run);
  run.idleTimer = host_.loop.AddTimer(UpdateSession::kIdlePeriodMs, UpdateSession::kIdlePeriodMs,
                                      [&run] { run.session->OnTimer(); });
  run.session->Start();
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
    if (ok && settings_.verifySeconds && !settings_.dryRun) {
      AwaitComeback(index, std::move(r));
    } else {
      Report(index, std::move(r));
    }
  }
}

void Batch::AwaitComeback(std::size_t index, UpdateResult r) {
  Comeback& v = r.verify.emplace();
  if (auto b = before_.find(r.address); b != before_.end()) v.before = b->second;
  std::string why;
  if (watch_ == nullptr || !watch_->IsOpen()) {
    why = "not verified: no search could be made";
  } else if (!v.before) {
    why = "not verified: it did not answer a search before its update";
  }
  if (!why.empty()) {
    r.outcome = Outcome::kFailed;
    Verdict(index, std::move(r), why);
    return;
  }
  const std::uint64_t now = host_.loop.NowMs();
  watch_->AwaitComeback(r.address, *v.before);
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
  r.messages.push_back(ComebackText(r, notBackBecause));
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
  results_[index] = std::move(result);
}

int Batch::ExitStatusOfAll() const {
  for (const std::optional<UpdateResult>& r : results_) {
    if (r->outcome == Outcome::kOk) continue;
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
