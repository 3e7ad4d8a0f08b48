// Fuzzes the unzip's archive reader: the central directory, the local headers, the
// overlap check, and the unpacking of every entry's data into nothing, with its checks.
#include <cstddef>
#include <cstdint>

#include "unzip/inflate.h"
#include "unzip/zip_archive.h"

namespace {

class NullSink : public zorvex::unzip::Sink {
 public:
  bool Write(const uint8_t*, size_t) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorvex::unzip;
  Archive archive;
  std::string error;
  int code = 0;
  if (!ReadCentralDirectory(data, size, &archive, &error, &code)) return 0;
  for (Entry& e : archive.entries) {
    if (!LocateData(data, size, &e, &error)) continue;
    ModificationTime(e);
    // Within the fuzzer's memory limit: a claimed size is checked against the data's
    // before any buffer is sized by it, but a valid stream may still be large.
    if (e.uncompressed_size > (64u << 20)) continue;
    NullSink sink;
    uint32_t crc = 0;
    UnpackData(data, e, &sink, &crc);
  }
  EntriesOverlap(archive.entries);
  return 0;
}
