// Stored data and the streaming inflater (zlib), for every build; the whole-buffer
// inflater where the build has one lives in inflate_whole_*.cpp.
#include "unzip/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "unzip/inflate_internal.h"

namespace zorvex::unzip {

namespace {

constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
// Large writes, so that a file goes out in few system calls.
constexpr size_t kChunk = 4u << 20;
// Deflate expands at most about 1032 to 1: a size claimed beyond that cannot come from
// the data, and is not allowed to set the size of a buffer.
constexpr uint64_t kMaxRatio = 1032;

// Stored data: copied by the system from the archive's file where it can (the bytes
// never pass through this program; the CRC is then read from the pages the copy has just
// brought into memory), else written from the mapping. Where the system copies only the
// whole blocks it shares, the rest of the part is written.
DataResult CopyStored(const uint8_t* in, const Entry& e, Sink* sink, uint32_t* crc,
                      safetree::SystemFile file) {
  if (e.compressed_size != e.uncompressed_size) return DataResult::kBadData;
  bool by_system = file != safetree::kNoSystemFile;
  for (uint64_t done = 0; done < e.compressed_size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, e.compressed_size - done));
    uint64_t copied = 0;
    if (by_system) {
      switch (sink->CopyFrom(file, e.data_offset + done, n, &copied)) {
        case CopyResult::kDone:
          if (copied < n && !sink->Write(in + done + copied, n - copied)) {
            return DataResult::kWriteFailed;
          }
          break;
        case CopyResult::kUnsupported:  // the rest is written from the mapping
          by_system = false;
          continue;
        case CopyResult::kFailed:
          return DataResult::kWriteFailed;
        case CopyResult::kShort:
          return DataResult::kBadData;  // the archive was cut short meanwhile
      }
    } else if (!sink->Write(in + done, n)) {
      return DataResult::kWriteFailed;
    }
    *crc = Crc32(*crc, in + done, n);
    done += n;
  }
  return DataResult::kOk;
}

}  // namespace

DataResult InflateStreaming(const uint8_t* in, const Entry& e, Sink* sink, uint32_t* crc) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return DataResult::kNoMemory;
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
  std::vector<uint8_t> out(
      static_cast<size_t>(std::min<uint64_t>(kChunk, e.uncompressed_size + 1)));
  uint64_t in_left = e.compressed_size, produced = 0;
  const uint8_t* next_in = in;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (z.avail_in == 0 && in_left > 0) {
      uInt n = static_cast<uInt>(std::min<uint64_t>(in_left, 1u << 30));
      z.next_in = const_cast<Bytef*>(next_in);
      z.avail_in = n;
      next_in += n;
      in_left -= n;
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return DataResult::kBadData;
    size_t n = out.size() - z.avail_out;
    if (n == 0 && status == Z_OK && z.avail_in == 0 && in_left == 0) return DataResult::kBadData;
    produced += n;
    if (produced > e.uncompressed_size) return DataResult::kBadData;
    *crc = Crc32(*crc, out.data(), n);
    if (n > 0 && !sink->Write(out.data(), n)) return DataResult::kWriteFailed;
  }
  return produced == e.uncompressed_size ? DataResult::kOk : DataResult::kBadData;
}

DataResult UnpackData(const uint8_t* archive, const Entry& e, Sink* sink, uint32_t* actual_crc,
                      safetree::SystemFile archive_file) {
  const uint8_t* in = archive + e.data_offset;
  *actual_crc = 0;
  DataResult r;
  // Encrypted data is refused whatever the method: stored, it would pass for plain bytes.
  if (e.Encrypted() || (e.method != kStored && e.method != kDeflated)) {
    return DataResult::kUnsupported;
  } else if (e.method == kStored) {
    r = CopyStored(in, e, sink, actual_crc, archive_file);
  } else if (e.uncompressed_size > e.compressed_size * kMaxRatio + 1024) {
    return DataResult::kBadData;
  } else {
    r = InflateWhole(in, e, sink, actual_crc);
    if (r == DataResult::kUnsupported) r = InflateStreaming(in, e, sink, actual_crc);
  }
  if (r == DataResult::kOk && *actual_crc != e.crc) r = DataResult::kBadCrc;
  return r;
}

}  // namespace zorvex::unzip
