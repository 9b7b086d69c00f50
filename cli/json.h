// JSON output of tideload-cli: values built in order with nlohmann's
// ordered_json and written on one line as {"a": 1, "b": [2, 3]}.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace tl::cli {

using OrderedJson = nlohmann::ordered_json;

// A file path, the bytes the user gave, as text: a valid UTF-8 sequence is
// its character, any other byte the Latin-1 one.
std::string PathText(std::string_view path);

// The value on one line: ", " and ": " between members and items, every
// character outside printable ASCII as a lower-case \uXXXX (a surrogate pair
// beyond the basic plane), a number with a fraction with three decimals.
std::string WriteJson(const OrderedJson& value);

}  // namespace tl::cli
