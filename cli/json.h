// JSON output of tideload-cli.
#pragma once

#include <string>
#include <string_view>

namespace tl::cli {

// A JSON string literal of a code-page text: each byte is one character,
// given by its code point; everything outside printable ASCII as \uXXXX.
std::string JsonString(std::string_view codePageText);

}  // namespace tl::cli
