// The ZIP archive format as the medium's unzip reads it: the end of the central
// directory (ZIP64 included), the central directory's entries with their names, sizes,
// attributes and times, and each entry's local header. Pure functions over the archive's
// bytes, so that they can be fuzzed and tested without files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvex::unzip {

// Exit statuses, as the usual unzip programs give them.
enum ExitCode : int {
  kOk = 0,
  kWarning = 1,      // something was skipped or renamed; everything else was unpacked
  kFormatError = 2,  // damaged data in an entry (bad CRC, bad compressed data)
  kSevereError = 3,  // the archive's directory is damaged: nothing is unpacked
  kNoMemory = 5,
  kNotFound = 9,  // no archive of that name, or not a ZIP archive
  kBadOptions = 10,
  kNoMatch = 11,
  kNotTheMediums = 12,  // an archive the medium's manifest does not list, or not as listed
  kDiskFull = 50,
  kEndOfArchive = 51,  // the archive ends inside an entry
  kUnsupported = 81,   // a compression method or an encryption the program does not read
};

struct Entry {
  std::string raw_name;  // the name's bytes as stored
  std::string name;      // the name in UTF-8
  uint16_t version_made_by = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t compressed_size = 0;
  uint64_t uncompressed_size = 0;
  uint64_t local_header_offset = 0;
  uint32_t external_attributes = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  std::optional<int64_t> unix_mtime;  // from the extended timestamp field, seconds UTC
  uint64_t data_offset = 0;           // where the data begins; set by LocateData
  bool local_name_differs = false;    // the local header names another file; set by LocateData

  bool Encrypted() const { return (flags & 1) != 0; }
  // Made on Unix: the upper half of the external attributes is a Unix mode.
  bool HasUnixMode() const {
    return (version_made_by >> 8) == 3 && (external_attributes >> 16) != 0;
  }
  uint32_t UnixMode() const { return external_attributes >> 16; }
  bool IsDirectory() const;
  bool IsSymlink() const;
  // Made on MS-DOS, on NTFS or on VFAT, with no "/" in the name: there "\" cannot be part
  // of a name, so it separates, as some archivers of those systems store it.
  bool BackslashesSeparate() const;
};

struct Archive {
  std::vector<Entry> entries;
  // Bytes in front of the archive (a self-extracting stub, a script, a .jmod's header),
  // already added to every entry's offset.
  uint64_t prefix_bytes = 0;
  // Where the central directory begins: it and everything after it (the end records)
  // are all that reading the directory takes.
  uint64_t directory_offset = 0;
};

// Reads the central directory of an archive held in memory. The directory is looked for
// where the end record says, and else right before the end record, as it lies when bytes
// were put in front of the archive (then counted in prefix_bytes). On failure: false, with
// a message and the exit status (kNotFound when this is no ZIP archive at all,
// kSevereError when its directory is damaged, kEndOfArchive when it is cut short).
bool ReadCentralDirectory(const uint8_t* data, size_t size, Archive* archive, std::string* error,
                          int* code);

// Reads an entry's local header and sets its data offset, and whether the local header
// names another file (the central name is the one used). False when the header is damaged
// or the data would lie outside the archive.
bool LocateData(const uint8_t* data, size_t size, Entry* entry, std::string* error);

// True when the located entries' data spans overlap: such an archive unpacks the same
// bytes many times over (a "zip bomb") and is refused as a whole.
bool EntriesOverlap(const std::vector<Entry>& entries);

// The name in UTF-8: as stored when flag bit 11 says UTF-8, else from the Unicode path
// field when its check value matches the stored name; else, from an MS-DOS, OS/2 or NTFS
// maker, read as code page 437, and from any other (Unix) as stored: Unix archivers write
// the bytes of the maker's names, UTF-8 nowadays, without saying so.
std::string DecodeName(const std::string& raw, uint16_t flags, uint16_t version_made_by,
                       const std::string& extra);

// The modification time, seconds since 1970 UTC: the extended timestamp when there is one,
// else the MS-DOS date and time read as local time.
int64_t ModificationTime(const Entry& entry);

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace zorvex::unzip
