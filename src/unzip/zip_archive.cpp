#include "unzip/zip_archive.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace zorvex::unzip {

namespace {

constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr uint32_t kZip64EndOfDirectory = 0x06064b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr size_t kEndOfDirectorySize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kMaxCommentSize = 0xFFFF;
constexpr uint16_t kZip64Extra = 0x0001;
constexpr uint16_t kTimestampExtra = 0x5455;
constexpr uint16_t kUnicodePathExtra = 0x7075;
constexpr uint32_t kUnixFileType = 0170000;
constexpr uint32_t kUnixDirectory = 0040000;
constexpr uint32_t kUnixLink = 0120000;

// Little-endian fields of a byte range whose bounds the caller has checked.
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint64_t U64(const uint8_t* p) { return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32; }

// Code page 437 from 0x80 up, as Unicode code points.
constexpr uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

void AppendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code >> 6));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | code >> 12));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Calls `visit(id, data, size)` for each well-formed field of an extra block.
template <typename Visit>
void ForEachExtraField(const std::string& extra, Visit visit) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(extra.data());
  size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    uint16_t id = U16(p + pos);
    uint16_t length = U16(p + pos + 2);
    if (pos + 4 + length > extra.size()) return;
    visit(id, p + pos + 4, static_cast<size_t>(length));
    pos += 4 + length;
  }
}

// The ZIP64 field holds, in this order, those of the four values whose 32-bit (or for the
// disk 16-bit) field is all ones. False when it lacks one of them.
bool ApplyZip64(const std::string& extra, Entry* e) {
  bool need_size = e->uncompressed_size == 0xFFFFFFFF;
  bool need_csize = e->compressed_size == 0xFFFFFFFF;
  bool need_offset = e->local_header_offset == 0xFFFFFFFF;
  if (!need_size && !need_csize && !need_offset) return true;
  bool ok = false;
  ForEachExtraField(extra, [&](uint16_t id, const uint8_t* d, size_t n) {
    if (id != kZip64Extra || ok) return;
    size_t pos = 0;
    auto take = [&](bool needed, uint64_t* value) {
      if (!needed) return true;
      if (pos + 8 > n) return false;
      *value = U64(d + pos);
      pos += 8;
      return true;
    };
    ok = take(need_size, &e->uncompressed_size) && take(need_csize, &e->compressed_size) &&
         take(need_offset, &e->local_header_offset);
  });
  return ok;
}

void ApplyTimestamp(const std::string& extra, Entry* e) {
  ForEachExtraField(extra, [&](uint16_t id, const uint8_t* d, size_t n) {
    // Flags byte; bit 0: the modification time follows, as a signed 32-bit count.
    if (id == kTimestampExtra && n >= 5 && (d[0] & 1) != 0) {
      e->unix_mtime = static_cast<int32_t>(U32(d + 1));
    }
  });
}

struct EndOfDirectory {
  uint64_t entries = 0;
  uint64_t directory_size = 0;
  uint64_t directory_offset = 0;
  uint64_t prefix = 0;  // bytes in front of the archive, by where the directory lies
};

// Where the central directory starts: where the end record says when a central header (or,
// for an empty directory, the end) lies there; else right before the record that follows
// it, when something does, and the difference is the bytes put in front of the archive.
bool PlaceDirectory(const uint8_t* data, uint64_t directory_end, EndOfDirectory* end) {
  // The whole directory lies between its start and the record after it.
  auto header_at = [&](uint64_t offset) {
    if (offset > directory_end || end->directory_size > directory_end - offset) return false;
    return end->entries == 0 ? offset + end->directory_size == directory_end
                             : end->directory_size >= 4 && U32(data + offset) == kCentralHeader;
  };
  if (end->directory_offset <= directory_end && header_at(end->directory_offset)) return true;
  if (directory_end < end->directory_size) return false;
  const uint64_t actual = directory_end - end->directory_size;
  if (actual <= end->directory_offset || !header_at(actual)) return false;
  end->prefix = actual - end->directory_offset;
  end->directory_offset = actual;
  return true;
}

// The end record is the last 22 bytes unless a comment follows it: search backwards.
bool FindEnd(const uint8_t* data, size_t size, size_t* at) {
  if (size < kEndOfDirectorySize) return false;
  size_t lowest = size > kEndOfDirectorySize + kMaxCommentSize
                      ? size - kEndOfDirectorySize - kMaxCommentSize
                      : 0;
  for (size_t pos = size - kEndOfDirectorySize + 1; pos-- > lowest;) {
    if (U32(data + pos) == kEndOfDirectory &&
        pos + kEndOfDirectorySize + U16(data + pos + 20) <= size) {
      *at = pos;
      return true;
    }
  }
  return false;
}

bool ReadEnd(const uint8_t* data, size_t size, EndOfDirectory* end, std::string* error, int* code) {
  size_t at = 0;
  if (!FindEnd(data, size, &at)) {
    *error =
        "End-of-central-directory signature not found: this is no ZIP archive, or only a part of "
        "one.";
    *code = kNotFound;
    return false;
  }
  const uint8_t* p = data + at;
  end->entries = U16(p + 10);
  end->directory_size = U32(p + 12);
  end->directory_offset = U32(p + 16);
  if (U16(p + 4) != 0 || U16(p + 6) != 0) {
    *error = "The archive spans several disks, which is not supported.";
    *code = kSevereError;
    return false;
  }
  // ZIP64: a locator right before the end record points at the ZIP64 end record, which
  // lies right before the locator (after bytes put in front, only there).
  uint64_t directory_end = at;
  if (at >= 20 && U32(p - 20) == kZip64Locator) {
    uint64_t z = U64(p - 20 + 8);
    if ((z > size || size - z < 56 || U32(data + z) != kZip64EndOfDirectory) && at >= 20 + 56 &&
        U32(p - 20 - 56) == kZip64EndOfDirectory) {
      z = at - 20 - 56;
    }
    if (z > size || size - z < 56 || U32(data + z) != kZip64EndOfDirectory) {
      *error = "The ZIP64 end of the central directory is damaged.";
      *code = kSevereError;
      return false;
    }
    end->entries = U64(data + z + 32);
    end->directory_size = U64(data + z + 40);
    end->directory_offset = U64(data + z + 48);
    directory_end = z;
  }
  if (!PlaceDirectory(data, directory_end, end)) {
    *error = end->directory_offset > size || end->directory_size > size - end->directory_offset
                 ? "The central directory lies outside the archive: the archive is cut short."
                 : "The central directory is not where the archive says, nor right before its "
                   "end: the archive is damaged.";
    *code = end->directory_offset > size ? kEndOfArchive : kSevereError;
    return false;
  }
  // Every entry takes at least a central header: a count beyond that is a lie.
  if (end->entries > end->directory_size / kCentralHeaderSize) {
    *error = "The central directory holds fewer entries than the archive claims.";
    *code = kSevereError;
    return false;
  }
  return true;
}

bool ReadEntry(const uint8_t* p, size_t room, Entry* e, size_t* taken) {
  if (room < kCentralHeaderSize || U32(p) != kCentralHeader) return false;
  size_t name_length = U16(p + 28), extra_length = U16(p + 30), comment_length = U16(p + 32);
  size_t total = kCentralHeaderSize + name_length + extra_length + comment_length;
  if (total > room) return false;
  e->version_made_by = U16(p + 4);
  e->flags = U16(p + 8);
  e->method = U16(p + 10);
  e->dos_time = U16(p + 12);
  e->dos_date = U16(p + 14);
  e->crc = U32(p + 16);
  e->compressed_size = U32(p + 20);
  e->uncompressed_size = U32(p + 24);
  e->external_attributes = U32(p + 38);
  e->local_header_offset = U32(p + 42);
  e->raw_name.assign(reinterpret_cast<const char*>(p + kCentralHeaderSize), name_length);
  std::string extra(reinterpret_cast<const char*>(p + kCentralHeaderSize + name_length),
                    extra_length);
  if (!ApplyZip64(extra, e)) return false;
  ApplyTimestamp(extra, e);
  e->name = DecodeName(e->raw_name, e->flags, e->version_made_by, extra);
  *taken = total;
  return true;
}

}  // namespace

bool Entry::IsDirectory() const {
  if (HasUnixMode() && (UnixMode() & kUnixFileType) == kUnixDirectory) return true;
  return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

bool Entry::BackslashesSeparate() const {
  constexpr int kMsDos = 0, kNtfs = 11, kVfat = 14;
  const int maker = version_made_by >> 8;
  return (maker == kMsDos || maker == kNtfs || maker == kVfat) &&
         name.find('/') == std::string::npos && name.find('\\') != std::string::npos;
}

bool Entry::IsSymlink() const { return HasUnixMode() && (UnixMode() & kUnixFileType) == kUnixLink; }

std::string DecodeName(const std::string& raw, uint16_t flags, uint16_t version_made_by,
                       const std::string& extra) {
  if ((flags & 0x0800) != 0) return raw;
  std::string unicode;
  ForEachExtraField(extra, [&](uint16_t id, const uint8_t* d, size_t n) {
    // Version 1, then the check value of the stored name, then the name in UTF-8.
    if (id != kUnicodePathExtra || n < 5 || d[0] != 1) return;
    uint32_t check = Crc32(0, reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
    if (U32(d + 1) == check) unicode.assign(reinterpret_cast<const char*>(d + 5), n - 5);
  });
  if (!unicode.empty()) return unicode;
  const int maker = version_made_by >> 8;
  constexpr int kMsDos = 0, kHpfs = 6, kNtfs = 11;
  if (maker != kMsDos && maker != kHpfs && maker != kNtfs) return raw;
  std::string out;
  out.reserve(raw.size());
  for (unsigned char c : raw) {
    AppendUtf8(c < 0x80 ? c : kCp437High[c - 0x80], &out);
  }
  return out;
}

bool ReadCentralDirectory(const uint8_t* data, size_t size, Archive* archive, std::string* error,
                          int* code) {
  EndOfDirectory end;
  if (!ReadEnd(data, size, &end, error, code)) return false;
  archive->entries.clear();
  archive->entries.reserve(static_cast<size_t>(end.entries));
  archive->prefix_bytes = end.prefix;
  archive->directory_offset = end.directory_offset;
  const uint8_t* p = data + end.directory_offset;
  size_t room = static_cast<size_t>(end.directory_size);
  for (uint64_t i = 0; i < end.entries; ++i) {
    Entry e;
    size_t taken = 0;
    if (!ReadEntry(p, room, &e, &taken)) {
      *error = "The central directory is damaged at entry " + std::to_string(i + 1) + ".";
      *code = kSevereError;
      return false;
    }
    e.local_header_offset += end.prefix;
    archive->entries.push_back(std::move(e));
    p += taken;
    room -= taken;
  }
  return true;
}

bool LocateData(const uint8_t* data, size_t size, Entry* e, std::string* error) {
  uint64_t at = e->local_header_offset;
  if (at > size || size - at < kLocalHeaderSize || U32(data + at) != kLocalHeader) {
    *error = "The local header of " + e->name + " is missing or damaged.";
    return false;
  }
  uint64_t start = at + kLocalHeaderSize + U16(data + at + 26) + U16(data + at + 28);
  if (start > size || e->compressed_size > size - start) {
    *error = "The data of " + e->name + " runs past the end of the archive.";
    return false;
  }
  e->data_offset = start;
  const size_t name_length = U16(data + at + 26);
  e->local_name_differs =
      name_length != e->raw_name.size() ||
      std::memcmp(data + at + kLocalHeaderSize, e->raw_name.data(), name_length) != 0;
  return true;
}

bool EntriesOverlap(const std::vector<Entry>& entries) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;
  spans.reserve(entries.size());
  for (const Entry& e : entries) {
    spans.emplace_back(e.local_header_offset, e.data_offset + e.compressed_size);
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second) return true;
  }
  return false;
}

int64_t ModificationTime(const Entry& e) {
  if (e.unix_mtime) return *e.unix_mtime;
  std::tm local{};
  local.tm_year = 80 + (e.dos_date >> 9);
  local.tm_mon = ((e.dos_date >> 5) & 0x0F) - 1;
  local.tm_mday = e.dos_date & 0x1F;
  local.tm_hour = e.dos_time >> 11;
  local.tm_min = (e.dos_time >> 5) & 0x3F;
  local.tm_sec = (e.dos_time & 0x1F) * 2;
  local.tm_isdst = -1;
  std::time_t t = std::mktime(&local);
  return t == static_cast<std::time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

}  // namespace zorvex::unzip
