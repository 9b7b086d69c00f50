// A strict JSON reader for files from outside (RFC 8259, UTF-8), on
// nlohmann's SAX parser: one value and white space, no member name given
// twice in an object, no NUL in a text, and bounds on the text's size, on
// nesting and on the number of values. Linear in the text.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tl::cli {

constexpr std::size_t kJsonMostBytes = 8u << 20;
constexpr std::size_t kJsonMostValues = 1u << 19;
constexpr std::size_t kJsonMostDepth = 32;

// The value, or nothing with the reason and the byte offset in *error.
std::optional<nlohmann::json> ParseJson(std::string_view text, std::string* error);

}  // namespace tl::cli
