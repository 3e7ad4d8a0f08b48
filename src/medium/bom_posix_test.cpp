#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "medium/bom.h"
#include "medium/report.h"

namespace zorvex::medium {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The bill is checked against the medium file by file: every difference is an error that
// names the file, and a medium as billed has none.
TEST(BillOfMaterialsTest, EachDifferenceFromTheMediumIsNamed) {
  const fs::path root =
      fs::temp_directory_path() /
      ("zorvex-bom-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  const fs::path disk = root / "Disk1";
  const fs::path jar = root / "stage/Components/zorvex.swd.zek/1.0/1/DataFiles/zek.jar";
  auto make = [&] {
    fs::remove_all(root);
    Put(disk / "unzip", "unzip");
    Put(jar, "jar");
    Put(disk / "jlib" / "extra.jar", "extra");
    std::vector<BomFile> files;
    std::string error;
    ASSERT_TRUE(BomFilesOf(disk, false, &files, &error)) << error;
    Put(disk / kBomName, BillOfMaterials({"1.0", "setup", "", files}));
  };
  auto errors = [&] {
    Report r;
    CheckBillOfMaterials(disk, false, &r);
    return r.ErrorText();
  };
  make();
  EXPECT_EQ(errors(), "");
  struct Row {
    std::function<void()> change;
    std::string says;
  };
  for (const Row& row : std::vector<Row>{
           {[&] { Put(jar, "jaR"); },
            "names ../stage/Components/zorvex.swd.zek/1.0/1/DataFiles/zek.jar with SHA-256"},
           {[&] { Put(disk / "jlib" / "planted.jar", "x"); }, "does not name jlib/planted.jar"},
           {[&] { fs::remove(disk / "jlib" / "extra.jar"); },
            "names jlib/extra.jar, which the medium does not hold"},
           {[&] { Put(disk / "unzip", "signed"); }, "names unzip with SHA-256"}}) {
    SCOPED_TRACE(row.says);
    make();
    row.change();
    EXPECT_NE(errors().find(row.says), std::string::npos) << errors();
  }
  // A program signed after the bill was written gets its new digest, and the bill agrees
  // with the medium again.
  std::string hex, error;
  ASSERT_TRUE(Sha256OfFile(disk / "unzip", &hex, &error)) << error;
  ASSERT_TRUE(RehashInBillOfMaterials(disk, "unzip", hex, &error)) << error;
  EXPECT_EQ(errors(), "");
  EXPECT_FALSE(RehashInBillOfMaterials(disk, "jlib/none.jar", hex, &error));
  fs::remove_all(root);
}

}  // namespace
}  // namespace zorvex::medium
