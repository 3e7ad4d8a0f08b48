// The guard over a verified medium, on the platform doubles: which paths are the medium's,
// what is refused, and that a file checked once is the file every later read gets.
#include "manifest/guard.h"

#include "doubles/platform_test.h"
#include "platform/platform.h"

namespace zorvex::manifest {
namespace {

class GuardTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    files_.AddDir("C:\\M\\Disk1\\resource");
    files_.AddDir("C:\\M\\stage\\C");
    files_.AddFile("C:\\M\\Disk1\\zorparam.ini", kParam);
    files_.AddFile("C:\\M\\stage\\C\\a.jar", "jar");
    Manifest m;
    m["zorparam.ini"] = {false, kParam.size(), Sha256Of(kParam), ""};
    m["../stage/C/a.jar"] = {false, 3, Sha256Of(std::string("jar")), ""};
    text_ = Format(m);
    files_.AddFile("C:\\M\\Disk1\\zormanifest.txt", text_);
  }
  void TearDown() override { UnguardMedium(); }
  const std::string kParam = "[Zorvex]\nBOOTSTRAP=TRUE\n";
  std::string text_;
};

TEST_F(GuardTest, ChecksWhatItListsAndRefusesTheRest) {
  std::string error;
  ASSERT_TRUE(GuardMedium("C:\\M\\Disk1", "setup.exe", Sha256Of(text_), &error)) << error;
  const struct {
    const char* path;
    Verdict verdict;
  } cases[] = {
      {"C:\\M\\Disk1\\zorparam.ini", Verdict::kListed},
      {"C:\\M\\Disk1\\..\\stage\\C\\a.jar", Verdict::kListed},
      {"C:\\M\\stage\\C\\b.jar", Verdict::kUnlisted},  // beside a listed jar
      {"C:\\M\\stage\\D\\a.jar", Verdict::kUnlisted},  // another component
      {"C:\\M\\Disk1\\resource\\x.nls", Verdict::kUnlisted},
      {"C:\\M\\Disk1\\setup.exe", Verdict::kNotOnMedium},  // vouched for by its signature
      {"C:\\M\\Disk1\\zormanifest.txt", Verdict::kNotOnMedium},
      {"C:\\M\\notes.txt", Verdict::kNotOnMedium},  // beside the medium, not of it
      {"C:\\TEMP\\x.ini", Verdict::kNotOnMedium},
#ifdef _WIN32
      {"c:\\m\\DISK1\\ZorParam.INI.", Verdict::kListed},  // the name Windows opens
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(LookUp(c.path).verdict, c.verdict);
  }
  // The run's own directory is never the medium's, wherever it lies.
  SetRunDirectory("C:\\M\\Disk1\\scratch");
  EXPECT_EQ(LookUp("C:\\M\\Disk1\\scratch\\x").verdict, Verdict::kNotOnMedium);

  // Read once and checked; a change afterwards reaches no reader.
  EXPECT_EQ(
      platform::Os().system->ProfileString("Zorvex", "BOOTSTRAP", "", "C:\\M\\Disk1\\zorparam.ini"),
      "TRUE");
  files_.AddFile("C:\\M\\Disk1\\zorparam.ini", "[Zorvex]\nBOOTSTRAP=FALSE\n");
  EXPECT_EQ(
      platform::Os().system->ProfileString("Zorvex", "BOOTSTRAP", "", "C:\\M\\Disk1\\zorparam.ini"),
      "TRUE");
  EXPECT_TRUE(MediumRefusal().empty());

  // A planted file is refused when read; the refusal names it.
  files_.AddFile("C:\\M\\Disk1\\resource\\x.nls", "S_X=planted\n");
  std::string bytes;
  EXPECT_FALSE(platform::ReadWholeFile("C:\\M\\Disk1\\resource\\x.nls", &bytes));
  EXPECT_NE(MediumRefusal().find("x.nls is not listed in its manifest"), std::string::npos)
      << MediumRefusal();
}

TEST_F(GuardTest, AChangedFileOrManifestIsRefused) {
  std::string error;
  EXPECT_FALSE(GuardMedium("C:\\M\\Disk1", "setup.exe", Sha256Of(text_ + "\n"), &error));
  EXPECT_NE(error.find("zormanifest.txt is not the file its manifest lists"), std::string::npos)
      << error;
  ASSERT_TRUE(GuardMedium("C:\\M\\Disk1", "setup.exe", Sha256Of(text_), &error)) << error;
  files_.AddFile("C:\\M\\Disk1\\zorparam.ini", "[Zorvex]\nBOOTSTRAP=FALS\n");  // same size
  std::string bytes;
  EXPECT_FALSE(platform::ReadWholeFile("C:\\M\\Disk1\\zorparam.ini", &bytes));
  EXPECT_NE(MediumRefusal().find("zorparam.ini is not the file its manifest lists (SHA-256 "),
            std::string::npos)
      << MediumRefusal();
}

}  // namespace
}  // namespace zorvex::manifest
