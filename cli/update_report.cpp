#include "cli/update_report.h"

#include "cli/json.h"
#include "discovery/device_record.h"
#include "platform/core/code_page.h"

namespace tl::cli {

namespace {

std::string JsonOptional(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : "null";
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

std::string VerifyJson(const Comeback& v) {
  const bool back = v.after.has_value();
  auto app = [](const ModuleIdentity& i) { return i.app; };
  auto name = [](const ModuleIdentity& i) { return i.name; };
  auto mac = [](const ModuleIdentity& i) { return MacText(i.interfaceMac); };
  std::string s = std::string("{\"cameBack\": ") + (back ? "true" : "false");
  s += ", \"seconds\": " + (back ? Fixed(v.seconds, 3) : "null");
  s += ", \"appBefore\": " + JsonOptional(Of(v.before, app));
  s += ", \"appAfter\": " + JsonOptional(Of(v.after, app));
  s += ", \"macBefore\": " + JsonOptional(Of(v.before, mac));
  s += ", \"macAfter\": " + JsonOptional(Of(v.after, mac));
  s += ", \"nameBefore\": " + JsonOptional(Of(v.before, name));
  s += ", \"nameAfter\": " + JsonOptional(Of(v.after, name));
  return s + "}";
}

}  // namespace

std::string ResultJson(const UpdateResult& r) {
  const bool loaded = r.filePlatform.has_value();
  std::string s = "{\"address\": \"" + DottedAddress(r.address) + "\"";
  s += ", \"file\": " + JsonPath(r.file);
  s += ", \"filePlatform\": " + JsonOptional(r.filePlatform);
  s += ", \"modulePlatform\": " + JsonOptional(r.modulePlatform);
  s += ", \"startAddress\": " + (loaded ? std::to_string(r.startAddress) : "null");
  s += ", \"imageLength\": " + (loaded ? std::to_string(r.imageLength) : "null");
  s += ", \"sha256\": " + (r.sha256.empty() ? std::string("null") : "\"" + r.sha256 + "\"");
  s += ", \"bytesSent\": " + std::to_string(r.bytesSent);
  s += ", \"seconds\": " + Fixed(r.seconds, 3);
  s += std::string(", \"result\": \"") + ResultName(r.outcome) + "\"";
  s += ", \"messages\": [";
  for (std::size_t i = 0; i < r.messages.size(); ++i) {
    s += (i ? ", " : "") + JsonString(r.messages[i]);
  }
  s += "], \"lastCode\": " + (r.lastCode ? std::to_string(*r.lastCode) : "null");
  s += ", \"platformsAgree\": ";
  s += r.platformsAgree ? (*r.platformsAgree ? "true" : "false") : "null";
  s += ", \"verify\": " + (r.verify ? VerifyJson(*r.verify) : "null");
  return s + "}";
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
