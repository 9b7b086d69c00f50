#include "cli/json_reader.h"

#include <set>
#include <vector>

namespace tl::cli {

namespace {

using Json = nlohmann::json;

// nlohmann's tree builder behind the strict rules: a callback that returns
// false ends the parse with the reason kept.
class StrictSax {
 public:
  StrictSax(Json& result, std::string_view text) : tree_(result, false), text_(text) {}

  const std::string& Why() const { return why_; }

  bool null() { return Counted() && tree_.null(); }
  bool boolean(bool value) { return Counted() && tree_.boolean(value); }
  bool number_integer(Json::number_integer_t value) { return Counted() && tree_.number_integer(value); }
  bool number_unsigned(Json::number_unsigned_t value) { return Counted() && tree_.number_unsigned(value); }
  bool number_float(Json::number_float_t value, const std::string& text) {
    return Counted() && tree_.number_float(value, text);
  }
  bool string(std::string& value) { return Counted() && NoNul(value) && tree_.string(value); }
  bool binary(Json::binary_t& value) { return tree_.binary(value); }
  bool start_object(std::size_t size) {
    names_.emplace_back();
    return Counted() && Nested() && tree_.start_object(size);
  }
  bool key(std::string& name) {
    if (!NoNul(name)) return false;
    if (!names_.back().insert(name).second) {
      return Fail("member \"" + (name.size() > 64 ? name.substr(0, 64) + "..." : name) + "\" given twice");
    }
    return tree_.key(name);
  }
  bool end_object() {
    names_.pop_back();
    --depth_;
    return tree_.end_object();
  }
  bool start_array(std::size_t size) { return Counted() && Nested() && tree_.start_array(size); }
  bool end_array() {
    --depth_;
    return tree_.end_array();
  }
  bool parse_error(std::size_t at, const std::string& token, const nlohmann::detail::exception& e) {
    const std::string where = " at byte " + std::to_string(at);
    if (e.id != 101) return Fail("a number out of range" + where);
    // "[json.exception.parse_error.101] parse error at line 1, column 2: WHY; last read: 'TOKEN'..."
    std::string why = e.what();
    why.erase(0, why.find(": ") + 2);
    if (const std::size_t read = why.find("; last read: '"); read != std::string::npos) {
      why.erase(read, 15 + token.size());
    }
    // "01": the number ends after its 0, and another begins.
    if (!token.empty() && token[0] >= '0' && token[0] <= '9' && why.find("unexpected number") != std::string::npos &&
        at > token.size() && text_[at - token.size() - 1] >= '0' && text_[at - token.size() - 1] <= '9') {
      why = "a number with a leading zero";
    }
    return Fail(why + where);
  }

 private:
  bool Fail(std::string why) {
    if (why_.empty()) why_ = std::move(why);
    return false;
  }
  bool Counted() { return ++values_ <= kJsonMostValues || Fail("more than " + std::to_string(kJsonMostValues) + " values"); }
  bool Nested() { return ++depth_ <= kJsonMostDepth || Fail("nested too deep"); }
  bool NoNul(const std::string& text) {
    return text.find('\0') == std::string::npos || Fail("a NUL character in a text");
  }

  nlohmann::detail::json_sax_dom_parser<Json> tree_;
  std::string_view text_;
  std::vector<std::set<std::string>> names_;  // of each open object
  std::size_t values_ = 0;
  std::size_t depth_ = 0;
  std::string why_;
};

}  // namespace

std::optional<Json> ParseJson(std::string_view text, std::string* error) {
  if (text.size() > kJsonMostBytes) {
    *error = "larger than " + std::to_string(kJsonMostBytes) + " bytes";
    return std::nullopt;
  }
  Json result;
  StrictSax sax(result, text);
  if (Json::sax_parse(text.begin(), text.end(), &sax)) return result;
  *error = sax.Why();
  return std::nullopt;
}

}  // namespace tl::cli
