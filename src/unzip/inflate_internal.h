// The two inflaters behind UnpackData.
#pragma once

#include "unzip/inflate.h"

namespace zorvex::unzip {

// Inflates the whole entry in one call into one buffer, where the build has an inflater
// made for that (libdeflate) and the entry is not too large for memory; kUnsupported
// otherwise, and the streaming inflater takes the entry.
DataResult InflateWhole(const uint8_t* in, const Entry& e, Sink* sink, uint32_t* crc);

// Inflates in chunks (zlib): any size, little memory.
DataResult InflateStreaming(const uint8_t* in, const Entry& e, Sink* sink, uint32_t* crc);

}  // namespace zorvex::unzip
