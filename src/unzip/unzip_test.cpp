// The unzip's rules on archives built in memory: where names may go, what the directory
// reader takes from ZIP64, names and extra fields, and what it refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "unzip/entry_path.h"
#include "unzip/inflate.h"
#include "unzip/zip_archive.h"

namespace zorvex::unzip {
namespace {

TEST(SafePathTest, NamesStayInsideTheDestination) {
  struct Case {
    const char* name;
    bool windows;
    const char* path;  // components joined with "/"; empty: skipped
    bool stripped, skipped, renamed;
  };
  const Case cases[] = {
      {"a/b.txt", false, "a/b.txt", false, false, false},
      {"../evil", false, "evil", false, true, false},
      {"a/../../up", false, "a/up", false, true, false},
      {"/etc/passwd", false, "etc/passwd", true, false, false},
      {"./x/./y//z", false, "x/y/z", false, false, false},
      {"b\\..\\..\\c", false, "b\\..\\..\\c", false, false, false},  // one POSIX name
      {"b\\..\\..\\c", true, "b/c", false, true, false},
      {"C:/Windows/x", true, "Windows/x", true, false, false},
      {"C:/Windows/x", false, "C:/Windows/x", false, false, false},
      {"\\\\server\\share\\x", true, "server/share/x", true, false, false},
      {"ab:stream", true, "ab_stream", false, false, true},
      {"a:rel", true, "rel", true, false, false},  // a drive-relative name
      {"..", false, "", false, true, false},
      {"/", false, "", true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.windows ? " (Windows)" : ""));
    SafePath p = MakeSafePath(c.name, c.windows);
    EXPECT_EQ(JoinComponents(p.components), c.path);
    EXPECT_EQ(p.stripped_absolute, c.stripped);
    EXPECT_EQ(p.skipped_parent, c.skipped);
    EXPECT_EQ(p.renamed, c.renamed);
  }
}

TEST(SafePathTest, LinksMustPointInside) {
  const std::vector<std::string> top = {"link"}, deep = {"a", "b", "link"};
  EXPECT_TRUE(LinkStaysInside(top, "a.txt"));
  EXPECT_TRUE(LinkStaysInside(deep, "../../x"));
  EXPECT_TRUE(LinkStaysInside(deep, "./../c/d"));
  EXPECT_FALSE(LinkStaysInside(top, "../x"));
  EXPECT_FALSE(LinkStaysInside(deep, "../../../x"));
  EXPECT_FALSE(LinkStaysInside(top, "/etc/passwd"));
  EXPECT_FALSE(LinkStaysInside(top, ""));
  // After a name, which may be a link itself, ".." cannot be followed lexically.
  EXPECT_FALSE(LinkStaysInside(deep, "c/../../x"));
}

// A minimal archive writer: stored entries, optional ZIP64 fields and extra fields.
class ZipBytes {
 public:
  struct Options {
    uint16_t made_by = 0x031E;  // Unix
    uint16_t flags = 0;
    uint32_t external = 0100644u << 16;
    std::string extra;
    bool zip64_fields = false;  // sizes and offset as 0xFFFFFFFF with a ZIP64 field
    int32_t crc_delta = 0;
  };
  void Add(const std::string& name, const std::string& data, const Options& o) {
    uint32_t crc = Crc32(0, reinterpret_cast<const uint8_t*>(data.data()), data.size());
    crc += static_cast<uint32_t>(o.crc_delta);
    uint64_t offset = bytes_.size();
    Put32(&bytes_, 0x04034b50);
    Put16(&bytes_, 20), Put16(&bytes_, o.flags), Put16(&bytes_, 0), Put32(&bytes_, 0);
    Put32(&bytes_, crc), Put32(&bytes_, data.size()), Put32(&bytes_, data.size());
    Put16(&bytes_, name.size()), Put16(&bytes_, 0);
    bytes_ += name + data;
    std::string extra = o.extra;
    if (o.zip64_fields) {
      std::string z;
      Put64(&z, data.size()), Put64(&z, data.size()), Put64(&z, offset);
      Put16(&extra, 1), Put16(&extra, z.size());
      extra += z;
    }
    std::string& c = central_;
    Put32(&c, 0x02014b50);
    Put16(&c, o.made_by), Put16(&c, 20), Put16(&c, o.flags), Put16(&c, 0), Put32(&c, 0);
    Put32(&c, crc);
    uint32_t size32 = o.zip64_fields ? 0xFFFFFFFF : static_cast<uint32_t>(data.size());
    Put32(&c, size32), Put32(&c, size32);
    Put16(&c, name.size()), Put16(&c, extra.size()), Put16(&c, 0), Put16(&c, 0), Put16(&c, 0);
    Put32(&c, o.external), Put32(&c, o.zip64_fields ? 0xFFFFFFFF : static_cast<uint32_t>(offset));
    c += name + extra;
    ++count_;
  }
  // The archive; with `zip64_end`, a ZIP64 end record and locator carry the counts.
  std::string Finish(bool zip64_end = false) {
    std::string out = bytes_ + central_;
    uint64_t cd_offset = bytes_.size();
    if (zip64_end) {
      uint64_t z = out.size();
      Put32(&out, 0x06064b50), Put64(&out, 44), Put16(&out, 45), Put16(&out, 45);
      Put32(&out, 0), Put32(&out, 0), Put64(&out, count_), Put64(&out, count_);
      Put64(&out, central_.size()), Put64(&out, cd_offset);
      Put32(&out, 0x07064b50), Put32(&out, 0), Put64(&out, z), Put32(&out, 1);
    }
    Put32(&out, 0x06054b50), Put16(&out, 0), Put16(&out, 0);
    uint16_t n = zip64_end ? 0xFFFF : static_cast<uint16_t>(count_);
    Put16(&out, n), Put16(&out, n);
    Put32(&out, zip64_end ? 0xFFFFFFFF : static_cast<uint32_t>(central_.size()));
    Put32(&out, zip64_end ? 0xFFFFFFFF : static_cast<uint32_t>(cd_offset));
    Put16(&out, 0);
    return out;
  }

 private:
  static void Put16(std::string* s, uint64_t v) {
    s->push_back(static_cast<char>(v)), s->push_back(static_cast<char>(v >> 8));
  }
  static void Put32(std::string* s, uint64_t v) { Put16(s, v), Put16(s, v >> 16); }
  static void Put64(std::string* s, uint64_t v) { Put32(s, v), Put32(s, v >> 32); }
  std::string bytes_, central_;
  uint64_t count_ = 0;
};

class NullSink : public Sink {
 public:
  bool Write(const uint8_t*, size_t) override { return true; }
};

bool Read(const std::string& zip, Archive* archive, int* code) {
  std::string error;
  return ReadCentralDirectory(reinterpret_cast<const uint8_t*>(zip.data()), zip.size(), archive,
                              &error, code);
}

TEST(ZipArchiveTest, Zip64CountsSizesAndOffsets) {
  ZipBytes z;
  ZipBytes::Options o;
  o.zip64_fields = true;
  for (int i = 0; i < 70000; ++i) z.Add("f" + std::to_string(i), "x", o);
  std::string zip = z.Finish(true);
  Archive archive;
  int code = 0;
  ASSERT_TRUE(Read(zip, &archive, &code));
  ASSERT_EQ(archive.entries.size(), 70000u);
  Entry e = archive.entries.back();
  EXPECT_EQ(e.name, "f69999");
  EXPECT_EQ(e.uncompressed_size, 1u);
  std::string error;
  ASSERT_TRUE(LocateData(reinterpret_cast<const uint8_t*>(zip.data()), zip.size(), &e, &error));
  EXPECT_EQ(zip[e.data_offset], 'x');
}

TEST(ZipArchiveTest, NamesAndTheirEncodings) {
  ZipBytes z;
  ZipBytes::Options utf8;
  utf8.flags = 0x0800;
  z.Add("caf\xC3\xA9", "", utf8);
  z.Add("caf\x82", "", {});  // code page 437: é
  // A Unicode path field whose check value matches the stored name wins over it.
  std::string stored = "raw", up;
  uint32_t check = Crc32(0, reinterpret_cast<const uint8_t*>(stored.data()), stored.size());
  up += '\x01';
  for (int i = 0; i < 4; ++i) up.push_back(static_cast<char>(check >> (8 * i)));
  up += "\xE6\x97\xA5\xE6\x9C\xAC";
  ZipBytes::Options unicode;
  unicode.extra = std::string("\x75\x70", 2) + static_cast<char>(up.size()) + '\0' + up;
  z.Add(stored, "", unicode);
  Archive archive;
  int code = 0;
  ASSERT_TRUE(Read(z.Finish(), &archive, &code));
  EXPECT_EQ(archive.entries[0].name, "caf\xC3\xA9");
  EXPECT_EQ(archive.entries[1].name, "caf\xC3\xA9");
  EXPECT_EQ(archive.entries[2].name, "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST(ZipArchiveTest, DamagedArchivesAreRefusedWithTheirStatus) {
  ZipBytes z;
  z.Add("a", "data", {});
  const std::string good = z.Finish();
  struct Case {
    const char* name;
    std::string bytes;
    int code;
  };
  std::string lying_count = good;
  lying_count[good.size() - 12] = '\x50';  // 80 entries in a one-entry directory
  const Case cases[] = {
      {"no archive", "not a zip at all, just text long enough", kNotFound},
      {"cut in the middle", good.substr(0, good.size() / 2), kNotFound},
      {"count beyond the directory", lying_count, kSevereError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Archive archive;
    int code = 0;
    EXPECT_FALSE(Read(c.bytes, &archive, &code));
    EXPECT_EQ(code, c.code);
  }
}

TEST(ZipArchiveTest, DataChecksAndOverlaps) {
  ZipBytes z;
  ZipBytes::Options bad_crc;
  bad_crc.crc_delta = 1;
  z.Add("good", "hello", {});
  z.Add("bad", "hello", bad_crc);
  std::string zip = z.Finish();
  Archive archive;
  int code = 0;
  ASSERT_TRUE(Read(zip, &archive, &code));
  const uint8_t* data = reinterpret_cast<const uint8_t*>(zip.data());
  std::string error;
  NullSink sink;
  uint32_t crc = 0;
  for (Entry& e : archive.entries) ASSERT_TRUE(LocateData(data, zip.size(), &e, &error));
  EXPECT_EQ(UnpackData(data, archive.entries[0], &sink, &crc), DataResult::kOk);
  EXPECT_EQ(UnpackData(data, archive.entries[1], &sink, &crc), DataResult::kBadCrc);
  EXPECT_FALSE(EntriesOverlap(archive.entries));
  archive.entries[1].local_header_offset = archive.entries[0].local_header_offset;
  EXPECT_TRUE(EntriesOverlap(archive.entries));
  // Data that would run past the end of the archive is refused.
  Entry e = archive.entries[0];
  e.compressed_size = zip.size();
  EXPECT_FALSE(LocateData(data, zip.size(), &e, &error));
}

}  // namespace
}  // namespace zorvex::unzip
