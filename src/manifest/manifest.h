// The medium's manifest: every file the launcher reads, stages or runs from the medium,
// with its size and SHA-256 (and every link with its target), by its path relative to the
// launcher's directory. The manifest lies beside the launcher; its own SHA-256 is bound
// into the launcher program, so that the program's signature vouches for every byte the
// run takes from the medium.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "manifest/sha256.h"

namespace zorvex::manifest {

inline constexpr char kManifestName[] = "zormanifest.txt";
inline constexpr char kManifestHeader[] = "zorvex medium manifest 1";

// A large archive is listed with the SHA-256 of each piece of this many bytes (the last
// piece holds the rest), so that its reader can check the pieces on several cores at once
// instead of hashing the whole on one. From kChunkedFrom bytes on.
inline constexpr uint64_t kChunkBytes = 4u << 20;
inline constexpr uint64_t kChunkedFrom = 2 * kChunkBytes;

struct Entry {
  bool link = false;
  uint64_t size = 0;         // a file's
  Sha256Digest sha256 = {};  // a file's
  std::string target;        // a link's
  // An archive's (a file named *.jar): where its central directory begins and the SHA-256
  // of the bytes from there to the end, so that the directory can be read and checked
  // without the whole archive. Absent for anything else.
  std::optional<uint64_t> directory_offset;
  Sha256Digest directory_sha256 = {};
  // A large archive's piece digests (see kChunkBytes), in order; none for anything else.
  std::vector<Sha256Digest> chunks;
};

// Piece digests as the manifest and the unzip's command line write them: hex, joined by
// ",". Parsing gives false for anything else (an empty list included).
std::string FormatDigestList(const std::vector<Sha256Digest>& digests);
bool ParseDigestList(const std::string& text, std::vector<Sha256Digest>* digests);

// How many pieces of kChunkBytes a file of `size` bytes has.
inline uint64_t ChunkCount(uint64_t size) { return (size + kChunkBytes - 1) / kChunkBytes; }

// Keyed by the path as written: "/"-separated, relative to the launcher's directory, a
// run of ".." first where the file lies beside it (../stage/Components/...).
using Manifest = std::map<std::string, Entry>;

// The text: the header line, then one line per entry in path order,
//   <sha256 hex> TAB <size> TAB <path>      a file
//   ... TAB <offset>:<sha256 hex>          an archive, with its central directory
//   ... TAB chunks=<sha256 hex>,...         and a large archive's piece digests
//   link TAB <target> TAB <path>           a link
// Paths and targets hold no tab, line feed or carriage return.
std::string Format(const Manifest& manifest);
// False with *error (naming the line) for anything else: the manifest is the medium's
// word, and a word that cannot be read vouches for nothing.
bool Parse(const std::string& text, Manifest* manifest, std::string* error);

// The size and SHA-256 of a file, read in pieces (runtimes hold files of many megabytes);
// with `chunks`, also the digest of each piece of kChunkBytes. False when it cannot be read
// to its end.
bool HashFile(const std::filesystem::path& path, uint64_t* size, Sha256Digest* digest,
              std::vector<Sha256Digest>* chunks = nullptr);

// The digest bound into this program, or nullopt when its slot was never filled (a
// launcher straight from the build, whose medium's files are not verified).
std::optional<Sha256Digest> BoundDigest();

// The slot in the launcher program: this marker, found nowhere else in it, then the
// manifest's digest (all zeros: none). Only the slot may spell the marker in the launcher;
// the medium tool, which fills and reads slots, spells it for itself.
#define ZORVEX_MANIFEST_SLOT_MARKER "ZORVEX-MEDIUM-MANIFEST-SHA256:v1"
inline constexpr size_t kSlotMarkerSize = 32;
static_assert(sizeof(ZORVEX_MANIFEST_SLOT_MARKER) - 1 == kSlotMarkerSize);

// UTF-8 texts and paths, both ways.
inline std::filesystem::path PathOfUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string Utf8Of(const std::filesystem::path& path) {
  std::u8string u = path.u8string();
  return std::string(u.begin(), u.end());
}
inline std::string GenericUtf8Of(const std::filesystem::path& path) {
  std::u8string u = path.generic_u8string();
  return std::string(u.begin(), u.end());
}

}  // namespace zorvex::manifest
