// Known SHA-256 answers, shared by the unit test and the Windows build's
// own check.
#pragma once

#include <cstddef>
#include <string>

namespace tl::test {

struct Sha256Vector {
  const char* name;
  std::string message;
  const char* hex;
};

// One mebibyte whose bytes depend on their place in two ways.
inline std::string Sha256Pattern() {
  std::string bytes(std::size_t{1} << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 31 + (i >> 11)) & 0xFF);
  return bytes;
}

inline const Sha256Vector* Sha256Vectors(std::size_t* count) {
  static const Sha256Vector vectors[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"a million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"1 MiB pattern", Sha256Pattern(), "fe4abab428e3f5a9c88e3682c2c21c1857b089d71f09086585e4cdf2ec5b625b"},
  };
  *count = sizeof vectors / sizeof vectors[0];
  return vectors;
}

}  // namespace tl::test
