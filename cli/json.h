// JSON output of tideload-cli.
#pragma once

#include <string>
#include <string_view>

namespace tl::cli {

// A JSON string literal of a code-page text: each byte is one character,
// given by its code point; everything outside printable ASCII as \uXXXX.
std::string JsonString(std::string_view codePageText);

// A JSON string literal of a file path, the bytes the user gave: a valid
// UTF-8 sequence is its character, any other byte the Latin-1 one.
std::string JsonPath(std::string_view path);

}  // namespace tl::cli
