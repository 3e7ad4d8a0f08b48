#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "medium/manifest_tool.h"
#include "medium/report.h"

namespace zorvex::medium {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A medium of two files and a launcher with an empty slot for the manifest's digest,
// listed and bound as a build does.
class ManifestToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("zorvex-manifest-tool-" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    Write(dir_ / "zorparam.ini", "BOOTSTRAP=TRUE\n");
    Write(dir_ / "jlib" / "zorcore.jar", "not an archive");
    Write(dir_ / "setup", "launcher " ZORVEX_MANIFEST_SLOT_MARKER + std::string(32, '\0') + " end");
    std::string error;
    ASSERT_TRUE(WriteAndBindManifest(dir_, dir_, "setup", &error)) << error;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Check() {
    Report report;
    CheckManifest(dir_.string(), (dir_ / "setup").string(), &report);
    return report.ErrorText();
  }
  fs::path dir_;
};

// Each difference from the manifest is an error naming the file and how it differs; the
// medium as built has none.
TEST_F(ManifestToolTest, EachDifferenceIsNamed) {
  EXPECT_EQ(Check(), "");
  struct Row {
    std::function<void(const fs::path&)> change;
    std::string says;
  };
  for (const Row& row : std::vector<Row>{
           {[](const fs::path& d) { Write(d / "zorparam.ini", "BOOTSTRAP=TRUF\n"); },
            "zorparam.ini was changed: SHA-256"},
           {[](const fs::path& d) { Write(d / "zorparam.ini", "X\n"); },
            "zorparam.ini was changed: 2 bytes, where the manifest lists 15"},
           {[](const fs::path& d) { Write(d / "planted.jar", "x"); },
            "planted.jar is not listed in the manifest"},
           {[](const fs::path& d) { fs::remove(d / "jlib" / "zorcore.jar"); },
            "jlib/zorcore.jar is missing: the manifest lists it"},
           {[](const fs::path& d) {
              fs::remove(d / "jlib" / "zorcore.jar");
              fs::create_symlink("../zorparam.ini", d / "jlib" / "zorcore.jar");
            },
            "jlib/zorcore.jar was changed: a link, where the manifest lists a file"},
           {[](const fs::path& d) { Write(d / "zormanifest.txt", "zorparam.ini\t1\n"); },
            "zormanifest.txt was changed: its SHA-256 is"},
           // Pieces that are not those of the bytes the whole digest vouches for, in a
           // manifest bound as it stands: the launcher checks the pieces instead.
           {[](const fs::path& d) {
              Write(d / "jlib" / "big.jar", std::string(manifest::kChunkedFrom + 1, 'z'));
              std::string error, text, program;
              ASSERT_TRUE(WriteAndBindManifest(d, d, "setup", &error)) << error;
              ASSERT_TRUE(ReadWholeFile(d / "zormanifest.txt", &text, &error)) << error;
              const size_t at = text.find("chunks=");
              ASSERT_NE(at, std::string::npos) << text;
              text[at + 7] = text[at + 7] == '0' ? '1' : '0';
              ASSERT_TRUE(ReadWholeFile(d / "setup", &program, &error)) << error;
              ASSERT_TRUE(BindDigest(&program, manifest::Sha256Of(text), &error)) << error;
              ASSERT_TRUE(WriteWholeFile(d / "zormanifest.txt", text, &error)) << error;
              ASSERT_TRUE(WriteWholeFile(d / "setup", program, &error)) << error;
            },
            "jlib/big.jar was changed: the digests of its pieces are not those the manifest "
            "lists"}}) {
    SCOPED_TRACE(row.says);
    TearDown();
    SetUp();
    row.change(dir_);
    EXPECT_NE(Check().find(row.says), std::string::npos) << Check();
  }
}

// A file whose bytes were meant to change (the unzip once signed) is listed anew, whole (a
// large jar's pieces too), the launcher binds the new manifest, and nothing else is taken
// from disk: a file added meanwhile stays unlisted.
TEST_F(ManifestToolTest, UpdatedEntriesOnly) {
  std::string error;
  Write(dir_ / "jlib" / "big.jar", std::string(manifest::kChunkedFrom + 1, 'a'));
  ASSERT_TRUE(WriteAndBindManifest(dir_, dir_, "setup", &error)) << error;
  Write(dir_ / "jlib" / "big.jar", std::string(manifest::kChunkedFrom + 1, 'b'));
  Write(dir_ / "zorparam.ini", "BOOTSTRAP=FALSE\n");
  Write(dir_ / "planted.jar", "x");
  ASSERT_TRUE(UpdateManifestEntries(dir_, "setup", {"zorparam.ini", "jlib/big.jar"}, &error))
      << error;
  EXPECT_EQ(Check(),
            "planted.jar is not listed in the manifest: the launcher refuses to stage "
            "or run it.\n");
  EXPECT_FALSE(UpdateManifestEntries(dir_, "setup", {"planted.jar"}, &error));
  EXPECT_NE(error.find("cannot list planted.jar anew"), std::string::npos) << error;
  // A manifest that is not the one the launcher binds is never updated.
  Write(dir_ / "zormanifest.txt", "changed\n");
  EXPECT_FALSE(UpdateManifestEntries(dir_, "setup", {"zorparam.ini"}, &error));
  EXPECT_NE(error.find("is not the manifest setup binds"), std::string::npos) << error;
}

}  // namespace
}  // namespace zorvex::medium
