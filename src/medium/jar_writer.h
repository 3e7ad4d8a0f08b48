// Jars (ZIP archives) written the same way every time: entries in name order, one fixed
// time, deflated with zlib at one level (or all stored, uncompressed), Unix modes and links kept,
// ZIP64 where sizes, offsets or the entry count need it. The same tree gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvex::medium {

// Where a stored file's data begins in a jar: at a multiple of this many bytes, the block
// size of the file systems that can share an archive's blocks with the files unpacked
// from it.
inline constexpr uint32_t kStoredAlignment = 4096;

// Packs the tree below `dir` into the jar `out`, entry names relative to `dir` with "/"
// (and `prefix` before each, e.g. "zek/jlib/"). False with *error on failure.
// With `store`, every entry is stored uncompressed, each file's data at a multiple of
// kStoredAlignment: a larger jar that the unzip copies without inflating, which the
// system can copy without passing the bytes through it, or share instead of copying.
bool WriteJar(const std::string& dir, const std::string& prefix, const std::string& out, bool store,
              std::string* error);

// Packs single files into the jar as `prefix` + their file names.
bool WriteJarOfFiles(const std::vector<std::string>& files, const std::string& prefix,
                     const std::string& out, bool store, std::string* error);

}  // namespace zorvex::medium
