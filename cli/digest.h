// The SHA-256 of an image, as tideload-cli prints it.
#pragma once

#include <cstddef>
#include <string>

namespace tl::cli {

// Lower-case hexadecimal; false when the digest could not be made.
bool Sha256Hex(const unsigned char* data, std::size_t length, std::string& hex);

}  // namespace tl::cli
