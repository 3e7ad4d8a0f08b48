#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <cstdlib>

#include "manifest/sha256.h"

namespace zorvex::manifest {

namespace {

// CNG's functions, taken from System32 alone at run time. bcrypt.dll is not one of the DLLs
// Windows always takes from System32 (KnownDLLs): imported statically, a bcrypt.dll lying
// beside the program in a download folder would be loaded first, before any code of the
// program could restrict the search, and would compute the very hashes that vouch for the
// medium.
struct Cng {
  decltype(&BCryptOpenAlgorithmProvider) open_provider = nullptr;
  decltype(&BCryptCreateHash) create_hash = nullptr;
  decltype(&BCryptHashData) hash_data = nullptr;
  decltype(&BCryptFinishHash) finish_hash = nullptr;
  decltype(&BCryptDestroyHash) destroy_hash = nullptr;
  BCRYPT_ALG_HANDLE provider = nullptr;
};

template <typename F>
void Take(HMODULE module, const char* name, F* function) {
  *function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (*function == nullptr) std::abort();
}

// Loaded and opened once per process. CNG cannot fail to give SHA-256 on any supported
// Windows; if it ever does, nothing may be called verified, so the program ends rather
// than hash with nothing.
const Cng& Functions() {
  static const Cng cng = [] {
    Cng c;
    HMODULE module = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) std::abort();
    Take(module, "BCryptOpenAlgorithmProvider", &c.open_provider);
    Take(module, "BCryptCreateHash", &c.create_hash);
    Take(module, "BCryptHashData", &c.hash_data);
    Take(module, "BCryptFinishHash", &c.finish_hash);
    Take(module, "BCryptDestroyHash", &c.destroy_hash);
    if (c.open_provider(&c.provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) std::abort();
    return c;
  }();
  return cng;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  const Cng& cng = Functions();
  if (cng.create_hash(cng.provider, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0) std::abort();
}

Sha256::~Sha256() { Functions().destroy_hash(state_->hash); }

void Sha256::Update(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  // CNG takes at most 4 GiB at a time.
  while (size > 0) {
    ULONG n = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    if (Functions().hash_data(state_->hash, const_cast<PUCHAR>(bytes), n, 0) != 0) std::abort();
    bytes += n;
    size -= n;
  }
}

Sha256Digest Sha256::Final() {
  const Cng& cng = Functions();
  Sha256Digest digest;
  if (cng.finish_hash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0) != 0)
    std::abort();
  cng.destroy_hash(state_->hash);
  state_->hash = nullptr;
  if (cng.create_hash(cng.provider, &state_->hash, nullptr, 0, nullptr, 0, 0) != 0) std::abort();
  return digest;
}

}  // namespace zorvex::manifest
