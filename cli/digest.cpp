#include "cli/digest.h"

#include <openssl/evp.h>

namespace tl::cli {

bool Sha256Hex(const unsigned char* data, std::size_t length, std::string& hex) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(data, length, digest, &digestLength, EVP_sha256(), nullptr) != 1) return false;
  static const char kDigits[] = "0123456789abcdef";
  hex.clear();
  for (unsigned int i = 0; i < digestLength; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0x0F];
  }
  return true;
}

}  // namespace tl::cli
