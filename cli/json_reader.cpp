#include "cli/json_reader.h"

#include "platform/console/console_text.h"
#include "platform/core/code_page.h"

namespace tl::cli {

const JsonValue* JsonValue::Member(std::string_view name) const {
  for (const auto& [key, value] : members) {
    if (key == name) return &value;
  }
  return nullptr;
}

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document(std::string* error) {
    JsonValue value;
    bool ok = text_.size() <= kJsonMostBytes || Fail("larger than " + std::to_string(kJsonMostBytes) + " bytes");
    ok = ok && Value(value, 0);
    SkipSpace();
    if (ok && at_ != text_.size()) ok = Fail("more after the value");
    if (ok) return value;
    if (error) *error = why_ + " at byte " + std::to_string(at_);
    return std::nullopt;
  }

 private:
  bool Fail(std::string why) {
    if (why_.empty()) why_ = std::move(why);
    return false;
  }
  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++at_;
  }
  bool Take(char c) {
    if (Peek() != c || AtEnd()) return false;
    ++at_;
    return true;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return Fail("not a JSON value");
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue& value, int depth) {
    if (++values_ > kJsonMostValues) return Fail("more than " + std::to_string(kJsonMostValues) + " values");
    SkipSpace();
    switch (Peek()) {
      case '{': return depth < kJsonMostDepth ? Object(value, depth + 1) : Fail("nested too deep");
      case '[': return depth < kJsonMostDepth ? Array(value, depth + 1) : Fail("nested too deep");
      case '"': value.kind = JsonValue::Kind::kString; return String(value.text);
      case 't': value.kind = JsonValue::Kind::kBool; value.boolean = true; return Word("true");
      case 'f': value.kind = JsonValue::Kind::kBool; return Word("false");
      case 'n': return Word("null");
      default: return Number(value);
    }
  }

  bool Array(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kArray;
    ++at_;
    SkipSpace();
    if (Take(']')) return true;
    for (;;) {
      value.items.emplace_back();
      if (!Value(value.items.back(), depth)) return false;
      SkipSpace();
      if (Take(']')) return true;
      if (!Take(',')) return Fail("expected ',' or ']'");
    }
  }

  bool Object(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kObject;
    ++at_;
    SkipSpace();
    if (Take('}')) return true;
    for (;;) {
      SkipSpace();
      std::string name;
      if (Peek() != '"') return Fail("expected a member name");
      if (!String(name)) return false;
      if (value.Member(name) != nullptr) return Fail("member \"" + name + "\" given twice");
      SkipSpace();
      if (!Take(':')) return Fail("expected ':'");
      value.members.emplace_back(std::move(name), JsonValue{});
      if (!Value(value.members.back().second, depth)) return false;
      SkipSpace();
      if (Take('}')) return true;
      if (!Take(',')) return Fail("expected ',' or '}'");
    }
  }

  bool Digits() {
    const std::size_t from = at_;
    while (Peek() >= '0' && Peek() <= '9' && !AtEnd()) ++at_;
    return at_ > from;
  }

  bool Number(JsonValue& value) {
    const std::size_t from = at_;
    Take('-');
    if (Take('0')) {
      if (Peek() >= '0' && Peek() <= '9') return Fail("a number with a leading zero");
    } else if (!Digits()) {
      return Fail("not a JSON value");
    }
    if (Take('.') && !Digits()) return Fail("a number without digits after '.'");
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!Digits()) return Fail("a number without exponent digits");
    }
    value.kind = JsonValue::Kind::kNumber;
    value.text = std::string(text_.substr(from, at_ - from));
    return true;
  }

  bool Hex4(char32_t* c) {
    *c = 0;
    for (int i = 0; i < 4; ++i, ++at_) {
      const char h = Peek();
      int v = -1;
      if (h >= '0' && h <= '9') v = h - '0';
      if (h >= 'a' && h <= 'f') v = h - 'a' + 10;
      if (h >= 'A' && h <= 'F') v = h - 'A' + 10;
      if (v < 0 || AtEnd()) return Fail("a bad \\u escape");
      *c = (*c << 4) | static_cast<char32_t>(v);
    }
    return true;
  }

  bool Escape(std::string& out) {
    const char e = Peek();
    ++at_;
    static const char kPlain[] = "\"\\/bfnrt";
    static const char kMeant[] = "\"\\/\b\f\n\r\t";
    for (int i = 0; kPlain[i] != '\0'; ++i) {
      if (e == kPlain[i]) {
        out += kMeant[i];
        return true;
      }
    }
    char32_t c = 0;
    if (e != 'u' || !Hex4(&c)) return Fail("a bad escape");
    if (c >= 0xDC00 && c <= 0xDFFF) return Fail("a lone low surrogate");
    if (c >= 0xD800 && c <= 0xDBFF) {
      char32_t low = 0;
      if (!Take('\\') || !Take('u') || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) {
        return Fail("a high surrogate without its low one");
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, c);
    return true;
  }

  // A UTF-8 sequence from outside, checked whole.
  bool Utf8(std::string& out) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(text_, at_, &c);
    if (length == 0) return Fail("not UTF-8");
    out.append(text_.substr(at_, length));
    at_ += length;
    return true;
  }

  bool String(std::string& out) {
    ++at_;  // the opening quote
    for (;;) {
      if (AtEnd()) return Fail("a string without its end");
      const auto c = static_cast<unsigned char>(Peek());
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return Fail("a control character in a string");
      if (c == '\\') {
        ++at_;
        if (!Escape(out)) return false;
      } else if (c >= 0x80) {
        if (!Utf8(out)) return false;
      } else {
        out += static_cast<char>(c);
        ++at_;
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t values_ = 0;
  std::string why_;
};

}  // namespace

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
  return Reader(text).Document(error);
}

}  // namespace tl::cli
