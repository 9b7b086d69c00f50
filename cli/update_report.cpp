#include "cli/update_report.h"

#include <map>

#include "cli/json.h"
#include "discovery/device_record.h"
#include "platform/core/code_page.h"

namespace tl::cli {

namespace {

OrderedJson TextOrNull(const std::optional<std::string>& codePageText) {
  return codePageText ? OrderedJson(Cp1252ToUtf8(*codePageText)) : OrderedJson();
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// One field of an identity, when there is one.
template <typename Field>
std::optional<std::string> Of(const std::optional<ModuleIdentity>& identity, Field field) {
  return identity ? std::optional<std::string>(field(*identity)) : std::nullopt;
}

std::string AppOf(const ModuleIdentity& i) { return i.app; }
std::string NameOf(const ModuleIdentity& i) { return i.name; }
std::string MacOf(const ModuleIdentity& i) { return MacText(i.interfaceMac); }

OrderedJson VerifyJson(const std::optional<ModuleIdentity>& before, const Comeback& v) {
  const bool back = v.after.has_value();
  return {{"cameBack", back},
          {"seconds", back ? OrderedJson(v.seconds) : OrderedJson()},
          {"appBefore", TextOrNull(Of(before, AppOf))},
          {"appAfter", TextOrNull(Of(v.after, AppOf))},
          {"macBefore", TextOrNull(Of(before, MacOf))},
          {"macAfter", TextOrNull(Of(v.after, MacOf))},
          {"nameBefore", TextOrNull(Of(before, NameOf))},
          {"nameAfter", TextOrNull(Of(v.after, NameOf))}};
}

}  // namespace

std::string ResultJson(const UpdateResult& r) {
  const bool loaded = r.filePlatform.has_value();
  OrderedJson messages = OrderedJson::array();
  for (const std::string& m : r.messages) messages.push_back(Cp1252ToUtf8(m));
  const OrderedJson none;
  const OrderedJson j = {
      {"address", DottedAddress(r.address)},
      {"file", PathText(r.file)},
      {"filePlatform", TextOrNull(r.filePlatform)},
      {"modulePlatform", TextOrNull(r.modulePlatform)},
      {"startAddress", loaded ? OrderedJson(r.startAddress) : none},
      {"imageLength", loaded ? OrderedJson(r.imageLength) : none},
      {"sha256", r.sha256.empty() ? none : OrderedJson(r.sha256)},
      {"bytesSent", r.bytesSent},
      {"seconds", r.seconds},
      {"result", ResultName(r.outcome)},
      {"messages", messages},
      {"lastCode", r.lastCode ? OrderedJson(*r.lastCode) : none},
      {"platformsAgree", r.platformsAgree ? OrderedJson(*r.platformsAgree) : none},
      {"verify", r.verify ? VerifyJson(r.before, *r.verify) : none},
      {"wave", r.wave},
      {"attempts", r.attempts}};
  return WriteJson(j);
}

std::string LogJson(const UpdateResult& r, const LogContext& c) {
  const OrderedJson none;
  const std::optional<ModuleIdentity> after = r.verify ? r.verify->after : std::nullopt;
  const OrderedJson j = {{"time", c.time},
                         {"operator", c.operatorName},
                         {"host", c.host},
                         {"address", DottedAddress(r.address)},
                         {"mac", TextOrNull(Of(r.before, MacOf))},
                         {"file", PathText(r.file)},
                         {"sha256", r.sha256.empty() ? none : OrderedJson(r.sha256)},
                         {"result", ResultName(r.outcome)},
                         {"attempts", r.attempts},
                         {"appBefore", TextOrNull(Of(r.before, AppOf))},
                         {"appAfter", TextOrNull(Of(after, AppOf))}};
  return WriteJson(j);
}

std::string DryRunText(const UpdateResult& r) {
  const bool named = r.modulePlatform && !r.modulePlatform->empty();
  const std::string module = named ? Cp1252ToUtf8(*r.modulePlatform) : "(none named)";
  return DottedAddress(r.address) + ": the file's platform " + Cp1252ToUtf8(r.filePlatform.value_or("")) +
         ", the module's " + module + ": they " + (r.platformsAgree.value_or(false) ? "agree" : "differ");
}

std::string ComebackText(const UpdateResult& r, const std::string& notBackBecause,
                         const std::optional<std::string>& expected) {
  const Comeback& v = *r.verify;
  std::string text = DottedAddress(r.address) + ": ";
  if (v.after) {
    text += "back after " + Fixed(v.seconds, 1) + " s, running " + Cp1252ToUtf8(v.after->app);
    if (expected && *expected != v.after->app) text += ", not " + Cp1252ToUtf8(*expected);
  } else {
    text += notBackBecause;
  }
  return text + " (before: " + (r.before ? Cp1252ToUtf8(r.before->app) : "not found") + ")";
}

void PrintSummary(std::FILE* out, const std::vector<UpdateResult>& results) {
  std::fprintf(out, "%-16s %-18s %8s\n", "ADDRESS", "RESULT", "SECONDS");
  std::map<std::size_t, std::map<Outcome, std::size_t>> waves;
  for (const UpdateResult& r : results) {
    std::fprintf(out, "%-16s %-18s %8.1f\n", DottedAddress(r.address).c_str(), ResultName(r.outcome), r.seconds);
    ++waves[r.wave][r.outcome];
  }
  // "wave 2 of 3, 9 modules: 8 ok, 1 refused", classes in the table's order.
  for (const auto& [wave, counts] : waves) {
    std::size_t modules = 0;
    std::string line;
    for (const OutcomeInfo& info : kOutcomes) {
      const auto it = counts.find(info.outcome);
      if (it == counts.end()) continue;
      modules += it->second;
      line += (line.empty() ? "" : ", ") + std::to_string(it->second) + " " + info.name;
    }
    std::fprintf(out, "wave %zu of %zu, %zu module%s: %s\n", wave, waves.rbegin()->first, modules,
                 modules == 1 ? "" : "s", line.c_str());
  }
  std::fflush(out);
}

}  // namespace tl::cli
