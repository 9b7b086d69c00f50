// SHA-256 from the system's own provider: libcrypto on POSIX, CryptoAPI's
// AES provider on Windows.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace tl {

constexpr std::size_t kSha256Size = 32;
using Sha256Digest = std::array<unsigned char, kSha256Size>;

// One message, given in as many pieces as suit the caller.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(const void* data, std::size_t length);
  // The digest of every byte added; nothing when the provider failed at any
  // step. Called once.
  std::optional<Sha256Digest> Finish();

 private:
  struct State;  // the provider's
  std::unique_ptr<State> state_;
};

// The digest of one message given whole.
inline std::optional<Sha256Digest> Sha256Of(const void* data, std::size_t length) {
  Sha256 sha;
  sha.Add(data, length);
  return sha.Finish();
}

// Lower-case hexadecimal, as the programs print it.
std::string Sha256Hex(const Sha256Digest& digest);

}  // namespace tl
