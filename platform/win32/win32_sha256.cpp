// SHA-256 through CryptoAPI's AES provider (present from Windows XP SP3 on),
// in a context that holds no keys.
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

#include "platform/core/sha256.h"

namespace tl {

namespace {
constexpr std::size_t kLargestPiece = 1u << 30;  // a DWORD's worth, with room
// CALG_SHA_256: the headers name it (and its SID) only for builds aimed at
// XP SP3 and later; the provider says at run time whether it has it.
constexpr ALG_ID kSha256Sid = 12;
constexpr ALG_ID kSha256Algorithm = ALG_CLASS_HASH | ALG_TYPE_ANY | kSha256Sid;
}  // namespace

struct Sha256::State {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.failed = CryptAcquireContextA(&s.provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) == FALSE ||
             CryptCreateHash(s.provider, kSha256Algorithm, 0, 0, &s.hash) == FALSE;
}

Sha256::~Sha256() {
  if (state_->hash != 0) CryptDestroyHash(state_->hash);
  if (state_->provider != 0) CryptReleaseContext(state_->provider, 0);
}

void Sha256::Add(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const BYTE*>(data);
  while (!state_->failed && length != 0) {
    const std::size_t piece = std::min(length, kLargestPiece);
    state_->failed = CryptHashData(state_->hash, bytes, static_cast<DWORD>(piece), 0) == FALSE;
    bytes += piece;
    length -= piece;
  }
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest;
  DWORD length = static_cast<DWORD>(digest.size());
  if (state_->failed || CryptGetHashParam(state_->hash, HP_HASHVAL, digest.data(), &length, 0) == FALSE ||
      length != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace tl
