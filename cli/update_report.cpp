#include "cli/update_report.h"

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

OrderedJson VerifyJson(const Comeback& v) {
  const bool back = v.after.has_value();
  auto app = [](const ModuleIdentity& i) { return i.app; };
  auto name = [](const ModuleIdentity& i) { return i.name; };
  auto mac = [](const ModuleIdentity& i) { return MacText(i.interfaceMac); };
  return {{"cameBack", back},
          {"seconds", back ? OrderedJson(v.seconds) : OrderedJson()},
          {"appBefore", TextOrNull(Of(v.before, app))},
          {"appAfter", TextOrNull(Of(v.after, app))},
          {"macBefore", TextOrNull(Of(v.before, mac))},
          {"macAfter", TextOrNull(Of(v.after, mac))},
          {"nameBefore", TextOrNull(Of(v.before, name))},
          {"nameAfter", TextOrNull(Of(v.after, name))}};
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
      {"verify", r.verify ? VerifyJson(*r.verify) : none}};
  return WriteJson(j);
}

std::string DryRunText(const UpdateResult& r) {
  const bool named = r.modulePlatform && !r.modulePlatform->empty();
  const std::string module = named ? Cp1252ToUtf8(*r.modulePlatform) : "(none named)";
  return DottedAddress(r.address) + ": the file's platform " + Cp1252ToUtf8(r.filePlatform.value_or("")) +
         ", the module's " + module + ": they " + (r.platformsAgree.value_or(false) ? "agree" : "differ");
}

std::string ComebackText(const UpdateResult& r, const std::string& notBackBecause) {
  const Comeback& v = *r.verify;
  std::string text = DottedAddress(r.address) + ": ";
  if (v.after) {
    text += "back after " + Fixed(v.seconds, 1) + " s, running " + Cp1252ToUtf8(v.after->app);
  } else {
    text += notBackBecause;
  }
  return text + " (before: " + (v.before ? Cp1252ToUtf8(v.before->app) : "not found") + ")";
}

void PrintSummary(std::FILE* out, const std::vector<UpdateResult>& results) {
  std::fprintf(out, "%-16s %-18s %8s\n", "ADDRESS", "RESULT", "SECONDS");
  for (const UpdateResult& r : results) {
    std::fprintf(out, "%-16s %-18s %8.1f\n", DottedAddress(r.address).c_str(), ResultName(r.outcome), r.seconds);
  }
  std::fflush(out);
}

}  // namespace tl::cli
