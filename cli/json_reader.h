// A small, strict JSON reader for files from outside (RFC 8259, UTF-8):
// nothing but one value and white space, no duplicate member names, and
// bounds on nesting, on the number of values and on the text's size.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tl::cli {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's UTF-8, or a number as written
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // The member of that name, or nullptr (also when this is no object).
  const JsonValue* Member(std::string_view name) const;
};

constexpr std::size_t kJsonMostBytes = 8u << 20;
constexpr std::size_t kJsonMostValues = 1u << 19;
constexpr int kJsonMostDepth = 32;

// The value, or nothing with the reason and the byte offset in *error.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error);

}  // namespace tl::cli
