// An entry's data, stored or deflated, checked against its size and CRC on the way to
// where it goes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "safetree/tree.h"
#include "unzip/zip_archive.h"

namespace zorvex::unzip {

// Where an entry's bytes go: a file being written, or nowhere (testing).
using safetree::CopyResult;
using safetree::Sink;

enum class DataResult { kOk, kBadData, kBadCrc, kUnsupported, kWriteFailed, kNoMemory };

// Unpacks the entry's data (it must be located) into the sink. kBadData when the
// compressed data is damaged or does not give exactly the entry's size; kBadCrc when the
// bytes do not match its CRC (*actual_crc says what they give). With the archive's open
// file (`archive_file`: its bytes are those of `archive`, and nobody changes them
// meanwhile), stored data is copied by the system where it can, and its CRC taken from
// `archive` after each part is copied.
DataResult UnpackData(const uint8_t* archive, const Entry& entry, Sink* sink, uint32_t* actual_crc,
                      safetree::SystemFile archive_file = safetree::kNoSystemFile);

// The decompressor's name, for the program's version line.
const char* InflaterName();

}  // namespace zorvex::unzip
