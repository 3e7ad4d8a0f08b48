// SHA-256 through the system's library (libcrypto on POSIX, CNG on Windows), which uses
// the processor's SHA instructions where it has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zorvex::manifest {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t size);
  // The digest of everything given; the hash starts afresh after it.
  Sha256Digest Final();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

Sha256Digest Sha256Of(const void* data, size_t size);
inline Sha256Digest Sha256Of(const std::string& bytes) {
  return Sha256Of(bytes.data(), bytes.size());
}

// Lower-case hexadecimal, and back (false for anything but 64 hexadecimal digits).
std::string ToHex(const Sha256Digest& digest);
bool FromHex(const std::string& text, Sha256Digest* digest);

}  // namespace zorvex::manifest
