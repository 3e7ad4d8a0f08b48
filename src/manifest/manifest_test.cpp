// The manifest's text: what is read back as written, and what is refused because a word
// that cannot be read vouches for nothing.
#include "manifest/manifest.h"

#include <gtest/gtest.h>

namespace zorvex::manifest {
namespace {

const std::string kHash(64, 'a');
Sha256Digest kHashOf() { return Sha256Of(std::string("1")); }

TEST(ManifestTest, ReadsBackWhatItWrites) {
  Manifest m;
  m["zorparam.ini"] = {false, 643, Sha256Of(std::string("x")), "", {}, {}, {}};
  m["../stage/Components/a b/1/DataFiles/a b.jar"] = {
      false, 700, Sha256Of(std::string()), "", 650, Sha256Of(std::string("directory")), {}};
  // A large archive, listed with the digest of each of its three pieces.
  m["big.jar"] = {false,
                  kChunkBytes * 2 + 1,
                  Sha256Of(std::string("b")),
                  "",
                  9,
                  kHashOf(),
                  {kHashOf(), Sha256Of(std::string("2")), Sha256Of(std::string("3"))}};
  m["jre/lib/link"] = {true, 0, {}, "../bin/java", {}, {}, {}};
  Manifest back;
  std::string error;
  ASSERT_TRUE(Parse(Format(m), &back, &error)) << error;
  ASSERT_EQ(back.size(), m.size());
  for (const auto& [path, e] : m) {
    EXPECT_EQ(back[path].link, e.link) << path;
    EXPECT_EQ(back[path].size, e.size) << path;
    EXPECT_EQ(back[path].sha256, e.sha256) << path;
    EXPECT_EQ(back[path].target, e.target) << path;
    EXPECT_EQ(back[path].directory_offset, e.directory_offset) << path;
    EXPECT_EQ(back[path].directory_sha256, e.directory_sha256) << path;
    EXPECT_EQ(back[path].chunks, e.chunks) << path;
  }
  // The digest of the empty string, as every SHA-256 gives it.
  EXPECT_EQ(ToHex(Sha256Of(std::string())),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(ManifestTest, RefusesWhatItCannotRead) {
  const std::string head = std::string(kManifestHeader) + "\n";
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"another header", "zorvex medium manifest 2\n"},
      {"last line cut", head + kHash + "\t1\ta"},
      {"short hash", head + kHash.substr(1) + "\t1\ta\n"},
      {"upper-case hash", head + std::string(64, 'A') + "\t1\ta\n"},
      {"size not a number", head + kHash + "\t1x\ta\n"},
      {"size too long", head + kHash + "\t12345678901234567890\ta\n"},
      {"absolute path", head + kHash + "\t1\t/etc/passwd\n"},
      {"inner ..", head + kHash + "\t1\ta/../../b\n"},
      {"only ..", head + kHash + "\t1\t..\n"},
      {"a . component", head + kHash + "\t1\t./a\n"},
      {"empty component", head + kHash + "\t1\ta//b\n"},
      {"carriage return", head + kHash + "\t1\ta\r\n"},
      {"a fourth field of another kind", head + kHash + "\t1\ta\tb\n"},
      {"a directory beyond the archive's end", head + kHash + "\t1\ta\t2:" + kHash + "\n"},
      {"a link with a directory", head + "link\tb\ta\t0:" + kHash + "\n"},
      {"link without target", head + "link\t\ta\n"},
      {"listed twice", head + kHash + "\t1\ta\n" + kHash + "\t2\ta\n"},
      // Piece digests must be as many as the size has pieces of 4 MiB, given once.
      {"more pieces than the size has",
       head + kHash + "\t1\ta\tchunks=" + kHash + "," + kHash + "\n"},
      {"fewer pieces than the size has",
       head + kHash + "\t" + std::to_string(kChunkBytes + 1) + "\ta\tchunks=" + kHash + "\n"},
      {"pieces given twice", head + kHash + "\t1\ta\tchunks=" + kHash + "\tchunks=" + kHash + "\n"},
      {"pieces before the directory",
       head + kHash + "\t1\ta\tchunks=" + kHash + "\t0:" + kHash + "\n"},
      {"a piece digest cut short", head + kHash + "\t1\ta\tchunks=" + kHash.substr(1) + "\n"},
      {"pieces of a link", head + "link\tb\ta\tchunks=" + kHash + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Manifest m;
    std::string error;
    EXPECT_FALSE(Parse(c.text, &m, &error));
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace zorvex::manifest
