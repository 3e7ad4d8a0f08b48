// Builds without libdeflate (the Windows build: Debian offers zlib for MinGW, not
// libdeflate) inflate every entry with zlib's streaming inflater.
#include <zlib.h>

#include "unzip/inflate_internal.h"

namespace zorvex::unzip {

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  // zlib takes at most 4 GiB a call.
  while (size > 0) {
    uInt n = static_cast<uInt>(size > (1u << 30) ? (1u << 30) : size);
    crc = static_cast<uint32_t>(crc32(crc, data, n));
    data += n;
    size -= n;
  }
  return crc;
}

const char* InflaterName() { return "zlib"; }

DataResult InflateWhole(const uint8_t*, const Entry&, Sink*, uint32_t*) {
  return DataResult::kUnsupported;
}

}  // namespace zorvex::unzip
