#include "cli/json.h"

#include <cstdio>

#include "platform/console/console_text.h"
#include "platform/core/code_page.h"

namespace tl::cli {

namespace {

// nlohmann's escaping, ASCII only; the five controls it writes in short
// form (\b \t \n \f \r) as \u00XX like every other.
void AppendText(std::string& out, const std::string& text) {
  static constexpr std::string_view kShort = "btnfr";
  static const char* const kLong[] = {"\\u0008", "\\u0009", "\\u000a", "\\u000c", "\\u000d"};
  const std::string quoted = OrderedJson(text).dump(-1, ' ', true);
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] != '\\') {
      out += quoted[i];
      continue;
    }
    const std::size_t form = kShort.find(quoted[++i]);
    out += form == std::string_view::npos ? std::string{'\\', quoted[i]} : kLong[form];
  }
}

void Append(std::string& out, const OrderedJson& value) {
  switch (value.type()) {
    case OrderedJson::value_t::object: {
      const char* between = "";
      out += '{';
      for (const auto& [key, member] : value.items()) {
        out += between;
        AppendText(out, key);
        out += ": ";
        Append(out, member);
        between = ", ";
      }
      out += '}';
      break;
    }
    case OrderedJson::value_t::array: {
      const char* between = "";
      out += '[';
      for (const OrderedJson& item : value) {
        out += between;
        Append(out, item);
        between = ", ";
      }
      out += ']';
      break;
    }
    case OrderedJson::value_t::string:
      AppendText(out, value.get_ref<const std::string&>());
      break;
    case OrderedJson::value_t::number_float: {
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", value.get<double>());
      out += text;
      break;
    }
    default:  // null, true, false, integers
      out += value.dump();
  }
}

}  // namespace

std::string PathText(std::string_view path) {
  std::string text;
  for (std::size_t at = 0; at < path.size();) {
    char32_t c = 0;
    at += NextCharacter(path, at, &c);
    AppendUtf8(text, c);
  }
  return text;
}

std::string WriteJson(const OrderedJson& value) {
  std::string out;
  Append(out, value);
  return out;
}

}  // namespace tl::cli
