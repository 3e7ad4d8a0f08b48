// The guard over a verified medium, on the platform doubles: which paths are the medium's,
// what is refused, and that a file checked once is the file every later read gets.
#include "access/guard.h"

#include "access/places.h"
#include "doubles/platform_test.h"
#include "messages/catalogue.h"
#include "platform/platform.h"

namespace zorvex::access {

using manifest::Format;
using manifest::Manifest;
using manifest::Sha256Of;
namespace {

class GuardTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    files_.AddDir("C:\\dl\\M\\Disk1\\resource");
    files_.AddDir("C:\\dl\\M\\stage\\C");
    files_.AddFile("C:\\dl\\M\\Disk1\\zorparam.ini", kParam);
    files_.AddFile("C:\\dl\\M\\stage\\C\\a.jar", "jar");
    Manifest m;
    m["zorparam.ini"] = {false, kParam.size(), Sha256Of(kParam), "", {}, {}, {}};
    m["../stage/C/a.jar"] = {false, 3, Sha256Of(std::string("jar")), "", {}, {}, {}};
    text_ = Format(m);
    files_.AddFile("C:\\dl\\M\\Disk1\\zormanifest.txt", text_);
  }
  const std::string kParam = "[Zorvex]\nBOOTSTRAP=TRUE\n";
  std::string text_;
};

TEST_F(GuardTest, ChecksWhatItListsAndRefusesTheRest) {
  Refusal error;
  ASSERT_TRUE(
      GuardMedium("C:\\dl\\M\\Disk1", "setup.exe", Sha256Of(text_), &CurrentRun().platform, &error))
      << error.key;
  const struct {
    const char* path;
    Verdict verdict;
  } cases[] = {
      {"C:\\dl\\M\\Disk1\\zorparam.ini", Verdict::kListed},
      {"C:\\dl\\M\\Disk1\\..\\stage\\C\\a.jar", Verdict::kListed},
      {"C:\\dl\\M\\stage\\C\\b.jar", Verdict::kUnlisted},  // beside a listed jar
      {"C:\\dl\\M\\stage\\D\\a.jar", Verdict::kUnlisted},  // another component
      {"C:\\dl\\M\\Disk1\\resource\\x.nls", Verdict::kUnlisted},
      {"C:\\dl\\M\\Disk1\\setup.exe", Verdict::kNotOnMedium},  // vouched for by its signature
      {"C:\\dl\\M\\Disk1\\zormanifest.txt", Verdict::kNotOnMedium},
      {"C:\\dl\\M\\zorparam.ini", Verdict::kUnlisted},  // beside the launcher's directory
      {"C:\\dl\\M\\images\\a.class", Verdict::kUnlisted},
      {"C:\\dl\\stage\\Components", Verdict::kUnlisted},  // as far up as the run looks
      {"C:\\dl\\M\\stage", Verdict::kDirectory},
      {"C:\\dl\\M", Verdict::kNotOnMedium},        // the launcher's parents themselves
      {"C:\\TEMP\\x.ini", Verdict::kNotOnMedium},  // further up: the system's
#ifdef _WIN32
      {"c:\\dl\\m\\DISK1\\ZorParam.INI.", Verdict::kListed},  // the name Windows opens
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(LookUp(c.path).verdict, c.verdict);
  }
  // The run's own directory and the user's choices beside the medium's places are not the
  // medium's; within its places (the launcher's directory, what the run looks at beside
  // it, what the manifest lists there) nothing that names them moves the border.
  AddRunOwn("C:\\dl\\M\\scratch");
  AddUserChoice("C:\\dl\\M\\mine");
  EXPECT_EQ(LookUp("C:\\dl\\M\\scratch\\x").verdict, Verdict::kNotOnMedium);
  EXPECT_EQ(LookUp("C:\\dl\\M\\mine\\x").verdict, Verdict::kNotOnMedium);
  for (const char* choice : {"C:\\dl\\M\\Disk1", "C:\\dl\\M", "C:\\dl\\M\\Disk1\\jlib"}) {
    AddUserChoice(choice);
    AddRunOwn(choice);
  }
  for (const char* planted : {"C:\\dl\\M\\Disk1\\jlib\\zorutil.jar", "C:\\dl\\M\\images\\a.class",
                              "C:\\dl\\M\\stage\\C\\b.jar"}) {
    EXPECT_EQ(LookUp(planted).verdict, Verdict::kUnlisted) << planted;
  }
  std::string place;
  EXPECT_TRUE(MeetsTheMedium("C:\\dl\\M", true, &place));  // holds it
  EXPECT_EQ(place, "C:\\dl\\M\\Disk1");
  EXPECT_TRUE(MeetsTheMedium("C:\\dl\\M\\stage\\x", false, &place));
  EXPECT_FALSE(MeetsTheMedium("C:\\dl\\M\\mine", true, &place));

  // Read once and checked; a change afterwards reaches no reader.
  EXPECT_EQ(platform::Os().system->ProfileString("Zorvex", "BOOTSTRAP", "",
                                                 "C:\\dl\\M\\Disk1\\zorparam.ini"),
            "TRUE");
  files_.AddFile("C:\\dl\\M\\Disk1\\zorparam.ini", "[Zorvex]\nBOOTSTRAP=FALSE\n");
  EXPECT_EQ(platform::Os().system->ProfileString("Zorvex", "BOOTSTRAP", "",
                                                 "C:\\dl\\M\\Disk1\\zorparam.ini"),
            "TRUE");
  EXPECT_TRUE(MediumRefusal().empty());

  // A planted file is refused when read; the refusal names it.
  files_.AddFile("C:\\dl\\M\\Disk1\\resource\\x.nls", "S_X=planted\n");
  std::string bytes;
  EXPECT_FALSE(platform::ReadWholeFile("C:\\dl\\M\\Disk1\\resource\\x.nls", &bytes));
  EXPECT_NE(MediumRefusal().find("x.nls is not listed in its manifest"), std::string::npos)
      << MediumRefusal();
  // The user naming the medium's own directory makes no listed file unchecked.
  AddUserChoice("C:\\dl\\M\\Disk1");
  EXPECT_EQ(LookUp("C:\\dl\\M\\Disk1\\zorparam.ini").verdict, Verdict::kListed);
  // After staging, Java's class path names nothing of the medium, listed or not: Java reads
  // what staging wrote and checked. Without staging it reads a listed file in place; any
  // other element naming a listed file stays.
  const std::string jar = "C:\\dl\\M\\stage\\C\\a.jar";
  EXPECT_FALSE(ForJava(jar, true, true));
  EXPECT_TRUE(ForJava(jar, true, false));
  EXPECT_TRUE(ForJava(jar, false, true));
}

// A medium one level below a drive's root reaches up to that root, not over every drive,
// and a place beside it beyond the root is nobody's but the system's.
TEST_F(GuardTest, TheSideEndsAtTheDrivesRoot) {
  files_.AddFile("D:\\Disk1\\zorparam.ini", kParam);
  Manifest m;
  m["zorparam.ini"] = {false, kParam.size(), Sha256Of(kParam), "", {}, {}, {}};
  const std::string text = Format(m);
  files_.AddFile("D:\\Disk1\\zormanifest.txt", text);
  Refusal error;
  ASSERT_TRUE(GuardMedium("D:\\Disk1", "setup.exe", Sha256Of(text), &CurrentRun().platform, &error))
      << error.key;
  EXPECT_EQ(LookUp("D:\\stage\\x.jar").verdict, Verdict::kUnlisted);
  EXPECT_EQ(LookUp("C:\\extjre\\bin\\java.exe").verdict, Verdict::kNotOnMedium);
  EXPECT_EQ(LookUp("E:\\prereqs\\x.ini").verdict, Verdict::kNotOnMedium);
}

TEST_F(GuardTest, AChangedFileOrManifestIsRefused) {
  Refusal error;
  EXPECT_FALSE(GuardMedium("C:\\dl\\M\\Disk1", "setup.exe", Sha256Of(text_ + "\n"),
                           &CurrentRun().platform, &error));
  const std::string said = messages::FormatMessageText(error.key, error.args);
  EXPECT_NE(said.find("zormanifest.txt is not the file its manifest lists"), std::string::npos)
      << said;
  ASSERT_TRUE(
      GuardMedium("C:\\dl\\M\\Disk1", "setup.exe", Sha256Of(text_), &CurrentRun().platform, &error))
      << error.key;
  files_.AddFile("C:\\dl\\M\\Disk1\\zorparam.ini", "[Zorvex]\nBOOTSTRAP=FALS\n");  // same size
  std::string bytes;
  EXPECT_FALSE(platform::ReadWholeFile("C:\\dl\\M\\Disk1\\zorparam.ini", &bytes));
  EXPECT_NE(MediumRefusal().find("zorparam.ini is not the file its manifest lists (SHA-256 "),
            std::string::npos)
      << MediumRefusal();
}

}  // namespace
}  // namespace zorvex::access
