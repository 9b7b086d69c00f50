// The Windows build's SHA-256 against the known answers; exit status 0 when
// all match. Built beside tideload.exe and run under Wine.
#include <cstdio>

#include "platform/core/sha256.h"
#include "tests/platform/sha256_vectors.h"

int main() {
  std::size_t count = 0;
  const tl::test::Sha256Vector* vectors = tl::test::Sha256Vectors(&count);
  int wrong = 0;
  for (std::size_t v = 0; v < count; ++v) {
    const auto digest = tl::Sha256Of(vectors[v].message.data(), vectors[v].message.size());
    const std::string hex = digest ? tl::Sha256Hex(*digest) : "(no digest)";
    if (hex != vectors[v].hex) {
      std::printf("sha256_check: %s gave %s\n", vectors[v].name, hex.c_str());
      ++wrong;
    }
  }
  std::printf("sha256_check: %s\n", wrong == 0 ? "all known answers match" : "FAILED");
  return wrong == 0 ? 0 : 1;
}
