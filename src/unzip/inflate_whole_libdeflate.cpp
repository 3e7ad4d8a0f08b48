// The native build inflates with libdeflate: whole-buffer decompression and a CRC-32
// with carry-less multiplication are several times faster than zlib's streaming, and the
// archive is mapped into memory whole anyway.
#include <libdeflate.h>

#include <memory>
#include <new>

#include "unzip/inflate_internal.h"

namespace zorvex::unzip {

namespace {
// Larger entries are streamed: a runtime's modules file may be hundreds of MB.
constexpr uint64_t kWholeBufferLimit = 512u << 20;

struct Decompressor {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  ~Decompressor() { libdeflate_free_decompressor(d); }
};
}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  return libdeflate_crc32(crc, data, size);
}

const char* InflaterName() { return "libdeflate"; }

DataResult InflateWhole(const uint8_t* in, const Entry& e, Sink* sink, uint32_t* crc) {
  if (e.uncompressed_size > kWholeBufferLimit) return DataResult::kUnsupported;
  thread_local Decompressor decompressor;
  if (decompressor.d == nullptr) return DataResult::kNoMemory;
  size_t size = static_cast<size_t>(e.uncompressed_size);
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
  if (!out) return DataResult::kNoMemory;
  size_t produced = 0;
  libdeflate_result r = libdeflate_deflate_decompress(
      decompressor.d, in, static_cast<size_t>(e.compressed_size), out.get(), size, &produced);
  if (r != LIBDEFLATE_SUCCESS || produced != size) return DataResult::kBadData;
  *crc = Crc32(0, out.get(), size);
  if (size > 0 && !sink->Write(out.get(), size)) return DataResult::kWriteFailed;
  return DataResult::kOk;
}

}  // namespace zorvex::unzip
