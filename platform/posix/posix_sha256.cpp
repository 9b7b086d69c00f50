// SHA-256 through libcrypto, which is started without its configuration
// file: nothing of it is needed for a digest, and reading it costs every
// start of the program a file open.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "platform/core/sha256.h"

namespace tl {

namespace {

// Fetched once, after the library is started without configuration.
const EVP_MD* Sha256Method() {
  static const EVP_MD* const method = [] {
    if (OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) != 1) return static_cast<EVP_MD*>(nullptr);
    return EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
  }();
  return method;
}

}  // namespace

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  const EVP_MD* method = Sha256Method();
  state_->context = method != nullptr ? EVP_MD_CTX_new() : nullptr;
  state_->failed = state_->context == nullptr || EVP_DigestInit_ex(state_->context, method, nullptr) != 1;
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->context); }

void Sha256::Add(const void* data, std::size_t length) {
  if (!state_->failed && length != 0) state_->failed = EVP_DigestUpdate(state_->context, data, length) != 1;
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest;
  unsigned int length = 0;
  if (state_->failed || EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 ||
      length != digest.size()) {
    state_->failed = true;
    return std::nullopt;
  }
  return digest;
}

}  // namespace tl
