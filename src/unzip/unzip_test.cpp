// The unzip's rules on archives built in memory: where names may go, what the directory
// reader takes from ZIP64, names and extra fields, and what it refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "unzip/entry_path.h"
#include "unzip/inflate.h"
#include "unzip/zip_archive.h"
#include "zip_bytes.h"

namespace zorvex::unzip {
namespace {

using testing::ZipBytes;

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
      // Names Windows reads as other names, or as devices.
      {"docs./x.txt", true, "docs_/x.txt", false, false, true},
      {"notes.txt ", true, "notes.txt_", false, false, true},
      {"report.txt. .", true, "report.txt___", false, false, true},
      {"d/CON", true, "d/_CON", false, false, true},
      {"lpt1.log", true, "_lpt1.log", false, false, true},
      {"Nul .txt", true, "_Nul .txt", false, false, true},
      {"COM10/console.txt", true, "COM10/console.txt", false, false, false},
      {"a<b>|\x01.txt", true, "a_b___.txt", false, false, true},
      {"report.txt.", false, "report.txt.", false, false, false},  // POSIX keeps it
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
  ZipBytes::Options dos;
  dos.made_by = 0x0014;
  z.Add("caf\x82", "", dos);     // from MS-DOS: code page 437, é
  z.Add("caf\xC3\xA9", "", {});  // from Unix: the bytes as stored
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
  EXPECT_EQ(archive.entries[2].name, "caf\xC3\xA9");
  EXPECT_EQ(archive.entries[3].name, "\xE6\x97\xA5\xE6\x9C\xAC");
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
  std::string lying_size = good;           // a directory running past its end record
  lying_size[good.size() - 9] = '\x70';
  std::string lying_offset = "stub" + good;  // neither where it says nor right before the end
  --lying_offset[lying_offset.size() - 10];  // the size one short
  const Case cases[] = {
      {"no archive", "not a zip at all, just text long enough", kNotFound},
      {"cut in the middle", good.substr(0, good.size() / 2), kNotFound},
      {"count beyond the directory", lying_count, kSevereError},
      {"size beyond the end record", lying_size, kSevereError},
      {"offsets that fit neither reading", lying_offset, kSevereError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Archive archive;
    int code = 0;
    EXPECT_FALSE(Read(c.bytes, &archive, &code));
    EXPECT_EQ(code, c.code);
  }
  // Bytes in front move every offset by their number.
  Archive archive;
  int code = 0;
  ASSERT_TRUE(Read("#!/bin/sh\n" + good, &archive, &code));
  EXPECT_EQ(archive.prefix_bytes, 10u);
  EXPECT_EQ(archive.entries[0].local_header_offset, 10u);
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

// Where the file system shares only whole blocks (ReFS), the system copies the first
// part of a stored file and the rest is written from the archive's checked bytes.
TEST(ZipArchiveTest, StoredDataTheSystemCopiesInPartIsCompletedFromTheArchive) {
  class BlockSink : public Sink {
   public:
    BlockSink(const std::string& archive, bool shares) : archive_(archive), shares_(shares) {}
    bool Write(const uint8_t* data, size_t size) override {
      got.append(reinterpret_cast<const char*>(data), size);
      return true;
    }
    safetree::CopyResult CopyFrom(safetree::SystemFile, uint64_t offset, uint64_t size,
                                  uint64_t* copied) override {
      *copied = size - size % 4096;
      if (!shares_ || *copied == 0) return safetree::CopyResult::kUnsupported;
      got += archive_.substr(offset, *copied);
      return safetree::CopyResult::kDone;
    }
    std::string got;

   private:
    const std::string& archive_;
    bool shares_;
  };
  for (size_t size : {size_t{100}, size_t{4096}, size_t{10000}, (size_t{4} << 20) + 5}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
    ZipBytes z;
    z.Add("f", data, {});
    const std::string zip = z.Finish();
    Archive archive;
    int code = 0;
    std::string error;
    ASSERT_TRUE(Read(zip, &archive, &code));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(zip.data());
    ASSERT_TRUE(LocateData(bytes, zip.size(), &archive.entries[0], &error));
    for (bool shares : {true, false}) {
      BlockSink sink(zip, shares);
      uint32_t crc = 0;
      EXPECT_EQ(UnpackData(bytes, archive.entries[0], &sink, &crc, 3), DataResult::kOk) << size;
      EXPECT_TRUE(sink.got == data) << size << (shares ? " shared" : " written");
    }
  }
}

}  // namespace
}  // namespace zorvex::unzip
