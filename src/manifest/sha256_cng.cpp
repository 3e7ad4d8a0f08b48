#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <cstdlib>

#include "manifest/sha256.h"

namespace zorvex::manifest {

namespace {

// The algorithm provider, opened once per process. CNG cannot fail to give SHA-256 on
// any supported Windows; if it ever does, nothing may be called verified, so the
// program ends rather than hash with nothing.
BCRYPT_ALG_HANDLE Provider() {
  static BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) std::abort();
    return h;
  }();
  return provider;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (BCryptCreateHash(Provider(), &state_->hash, nullptr, 0, nullptr, 0, 0) != 0) std::abort();
}

Sha256::~Sha256() { BCryptDestroyHash(state_->hash); }

void Sha256::Update(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  // CNG takes at most 4 GiB at a time.
  while (size > 0) {
    ULONG n = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    if (BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), n, 0) != 0) std::abort();
    bytes += n;
    size -= n;
  }
}

Sha256Digest Sha256::Final() {
  Sha256Digest digest;
  if (BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0) != 0)
    std::abort();
  BCryptDestroyHash(state_->hash);
  state_->hash = nullptr;
  if (BCryptCreateHash(Provider(), &state_->hash, nullptr, 0, nullptr, 0, 0) != 0) std::abort();
  return digest;
}

}  // namespace zorvex::manifest
