// UTF-8 inside, UTF-16 at the system's wide calls.
#pragma once

#include <string>
#include <string_view>

namespace tl {

// What is not valid in the one becomes U+FFFD in the other.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace tl
