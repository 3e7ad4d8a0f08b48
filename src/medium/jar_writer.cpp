#include "medium/jar_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "medium/manifest_tool.h"

namespace zorvex::medium {

namespace {

namespace fs = std::filesystem;

// 1 January 2000, 00:00: one time for every entry, so that rebuilding changes no byte.
constexpr uint16_t kDosDate = (20 << 9) | (1 << 5) | 1;
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kMadeByUnix = (3 << 8) | 45;
constexpr uint32_t kMax32 = 0xFFFFFFFF;
// The extra field that pads a local header so that its entry's data begins where the
// writer wants it: the data stream alignment record of the ZIP format's registry (its ID,
// its size, the alignment asked for, then zeros). Readers skip it as any unknown field.
constexpr uint16_t kAlignmentField = 0xa11e;
constexpr size_t kAlignmentFieldHead = 6;

struct Item {
  std::string name;   // in the jar
  fs::path path;      // on disk; empty for a directory entry
  uint32_t mode = 0;  // Unix mode with its file type
  std::string link;   // a link's target
};

// Names in UTF-8 whatever the system's code page, as the UTF-8 flag of every entry says.
std::string Utf8(const fs::path& p) {
  std::u8string u = p.generic_u8string();
  return std::string(u.begin(), u.end());
}

void Put16(std::string* s, uint64_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string* s, uint64_t v) { Put16(s, v & 0xFFFF), Put16(s, (v >> 16) & 0xFFFF); }
void Put64(std::string* s, uint64_t v) { Put32(s, v & kMax32), Put32(s, v >> 32); }

// The modes a medium packs, whatever the input tree's were (a runtime built under another
// umask, a tree on a file system that shows every file as 0777): 0755 for directories and
// for files their owner may run, 0644 for the rest.
uint32_t ModeOf(const fs::directory_entry& e) {
  fs::file_status st = e.symlink_status();
  if (fs::is_symlink(st)) return 0120000 | 0777;
  if (fs::is_directory(st)) return 0040755;
  return (st.permissions() & fs::perms::owner_exec) != fs::perms::none ? 0100755 : 0100644;
}

bool Deflate(const std::string& in, std::string* out) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out->resize(deflateBound(&z, static_cast<uLong>(in.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out->data());
  z.avail_out = static_cast<uInt>(out->size());
  int r = deflate(&z, Z_FINISH);
  out->resize(out->size() - z.avail_out);
  deflateEnd(&z);
  return r == Z_STREAM_END;
}

// An item's bytes as the archive holds them: stored or deflated, with the CRC and size
// of the bytes before packing.
struct Packed {
  std::string bytes;
  uint32_t crc = 0;
  uint64_t size = 0;
  uint16_t method = 0;
};

bool PackItem(const Item& item, bool store, Packed* p, std::string* error) {
  std::string data;
  if (!item.link.empty()) {
    data = item.link;
  } else if (!item.path.empty()) {
    if (!ReadWholeFile(item.path, &data, error)) return false;
  }
  // zlib's 32-bit counts: files past 4 GiB are not packed.
  if (data.size() >= kMax32) {
    *error = item.path.string() + " is 4 GiB or larger";
    return false;
  }
  p->crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  p->size = data.size();
  p->method = 0;
  if (item.link.empty() && !data.empty() && !store) {
    if (!Deflate(data, &p->bytes)) {
      *error = "cannot compress " + item.path.string();
      return false;
    }
    p->method = 8;
  } else {
    p->bytes = std::move(data);
  }
  return true;
}

// The item's local header at `offset`. A stored file's data begins at a multiple of
// kStoredAlignment: a file system that shares blocks between files (XFS, Btrfs, ReFS) can
// then give the unpacked file the archive's blocks instead of copies of them.
std::string LocalHeader(const Item& item, const Packed& p, uint64_t offset) {
  std::string extra;
  if (p.method == 0 && item.link.empty() && !p.bytes.empty()) {
    const uint64_t data = offset + 30 + item.name.size() + kAlignmentFieldHead;
    const size_t pad =
        static_cast<size_t>((kStoredAlignment - data % kStoredAlignment) % kStoredAlignment);
    Put16(&extra, kAlignmentField), Put16(&extra, 2 + pad), Put16(&extra, kStoredAlignment);
    extra.append(pad, '\0');
  }
  std::string local;
  Put32(&local, 0x04034b50), Put16(&local, 20), Put16(&local, 0x0800), Put16(&local, p.method);
  Put16(&local, kDosTime), Put16(&local, kDosDate), Put32(&local, p.crc);
  Put32(&local, p.bytes.size()), Put32(&local, p.size);
  Put16(&local, item.name.size()), Put16(&local, extra.size());
  return local + item.name + extra;
}

// The item's central directory record, its local header at `offset`.
void AddCentralRecord(const Item& item, const Packed& p, uint64_t offset, std::string* central) {
  const bool big_offset = offset >= kMax32;
  std::string extra;
  if (big_offset) Put16(&extra, 1), Put16(&extra, 8), Put64(&extra, offset);
  Put32(central, 0x02014b50), Put16(central, kMadeByUnix), Put16(central, big_offset ? 45 : 20);
  Put16(central, 0x0800), Put16(central, p.method), Put16(central, kDosTime);
  Put16(central, kDosDate), Put32(central, p.crc), Put32(central, p.bytes.size());
  Put32(central, p.size), Put16(central, item.name.size()), Put16(central, extra.size());
  Put16(central, 0), Put16(central, 0), Put16(central, 0);
  Put32(central, static_cast<uint64_t>(item.mode) << 16);
  Put32(central, big_offset ? kMax32 : offset);
  *central += item.name + extra;
}

// The end records after a central directory of `count` records and `size` bytes at
// `offset`, with the ZIP64 ones where a count or place does not fit the classic record.
std::string EndRecords(uint64_t offset, uint64_t count, uint64_t size) {
  const bool zip64 = offset >= kMax32 || count >= 0xFFFF || size >= kMax32;
  std::string end;
  if (zip64) {
    uint64_t at = offset + size;
    Put32(&end, 0x06064b50), Put64(&end, 44), Put16(&end, kMadeByUnix), Put16(&end, 45);
    Put32(&end, 0), Put32(&end, 0), Put64(&end, count), Put64(&end, count);
    Put64(&end, size), Put64(&end, offset);
    Put32(&end, 0x07064b50), Put32(&end, 0), Put64(&end, at), Put32(&end, 1);
  }
  Put32(&end, 0x06054b50), Put16(&end, 0), Put16(&end, 0);
  Put16(&end, zip64 ? 0xFFFF : count), Put16(&end, zip64 ? 0xFFFF : count);
  Put32(&end, zip64 ? kMax32 : size), Put32(&end, zip64 ? kMax32 : offset);
  Put16(&end, 0);
  return end;
}

// Writes the items (already in name order) as one archive.
bool WriteItems(const std::vector<Item>& items, const std::string& out, bool store,
                std::string* error) {
  errno = 0;
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  if (!file) {
    *error = "cannot create " + out + SystemReason();
    return false;
  }
  std::string central;
  uint64_t offset = 0;
  for (const Item& item : items) {
    Packed packed;
    if (!PackItem(item, store, &packed, error)) return false;
    const std::string local = LocalHeader(item, packed, offset);
    file << local << packed.bytes;
    AddCentralRecord(item, packed, offset, &central);
    offset += local.size() + packed.bytes.size();
  }
  file << central << EndRecords(offset, items.size(), central.size());
  file.close();
  if (!file) {
    *error = "cannot write " + out + SystemReason();
    return false;
  }
  return true;
}

}  // namespace

bool WriteJar(const std::string& dir, const std::string& prefix, const std::string& out, bool store,
              std::string* error) {
  std::vector<Item> items;
  std::error_code ec;
  // Names are taken from the walk itself, never by resolving a path: a link keeps its own
  // name and is packed as a link, and no link is followed.
  fs::path base = manifest::PathOfUtf8(dir).lexically_normal();
  if (!base.has_filename() && base.has_parent_path()) base = base.parent_path();
  for (auto it = fs::recursive_directory_iterator(base, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    Item item;
    item.name = prefix + Utf8(it->path().lexically_relative(base));
    item.mode = ModeOf(*it);
    if (it->is_symlink()) {
      item.link = Utf8(fs::read_symlink(it->path(), ec));
    } else if (it->is_directory()) {
      item.name += "/";
    } else if (it->is_regular_file()) {
      item.path = it->path();
    } else {
      *error = it->path().string() + " is neither a file, a directory nor a link: it is not packed";
      return false;
    }
    items.push_back(item);
  }
  if (ec) {
    *error = "cannot read the tree " + dir + ": " + ec.message();
    return false;
  }
  // The directories of the prefix come first, as an unpacker makes them.
  for (size_t cut = prefix.find('/'); cut != std::string::npos; cut = prefix.find('/', cut + 1)) {
    items.push_back({prefix.substr(0, cut + 1), {}, 0040755, ""});
  }
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.name < b.name; });
  return WriteItems(items, out, store, error);
}

bool WriteJarOfFiles(const std::vector<std::string>& files, const std::string& prefix,
                     const std::string& out, bool store, std::string* error) {
  std::vector<Item> items;
  for (size_t cut = prefix.find('/'); cut != std::string::npos; cut = prefix.find('/', cut + 1)) {
    items.push_back({prefix.substr(0, cut + 1), {}, 0040755, ""});
  }
  for (const std::string& f : files) {
    std::error_code ec;
    if (!fs::is_regular_file(manifest::PathOfUtf8(f), ec)) {
      *error = ec ? "cannot examine " + f + ": " + ec.message() : f + " is no file";
      return false;
    }
    items.push_back(
        {prefix + Utf8(manifest::PathOfUtf8(f).filename()), manifest::PathOfUtf8(f), 0100644, ""});
  }
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return a.name < b.name; });
  return WriteItems(items, out, store, error);
}

}  // namespace zorvex::medium
