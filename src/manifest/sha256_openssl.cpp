// The low-level interface keeps the program small when linked statically: it pulls in
// the hash and the processor detection, not the provider machinery of the EVP calls.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "manifest/sha256.h"

namespace zorvex::manifest {

struct Sha256::State {
  SHA256_CTX context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { SHA256_Init(&state_->context); }
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) { SHA256_Update(&state_->context, data, size); }

Sha256Digest Sha256::Final() {
  Sha256Digest digest;
  SHA256_Final(digest.data(), &state_->context);
  SHA256_Init(&state_->context);
  return digest;
}

}  // namespace zorvex::manifest
