// Black-box tests of the built launchers: the native setup and, under Wine, setup.exe,
// each run against a medium made in a temporary directory with a recording Java stand-in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "blackbox/harness.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

class LauncherTest : public ::testing::TestWithParam<Target> {
 protected:
  LauncherTest() : medium_(GetParam()) {}
  bool windows() const { return GetParam().windows; }
  // The exit status as the test sees it: the low 8 bits of the launcher's status.
  static int Status(int launcher_status) { return launcher_status & 0xFF; }
  Medium medium_;
};

TEST(TargetsTest, BothTargetsAreBuiltWhenRequired) {
  if (std::getenv("ZORVEX_REQUIRE_WINDOWS") == nullptr) GTEST_SKIP() << "not required";
  EXPECT_EQ(BuiltTargets().size(), 2u) << "setup.exe or Wine is missing";
}

TEST_P(LauncherTest, NoCatalogueEndsWithStatusOne) {
  medium_.WriteParamFile("");
  medium_.RemoveCatalogues();
  RunResult r = medium_.Run({"-silent"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Could not read any NLS message catalogue!"), std::string::npos)
      << r.err;
  EXPECT_TRUE(medium_.JavaRuns().empty());
}

TEST_P(LauncherTest, CatalogueOfTheUsersLanguageWins) {
  medium_.WriteParamFile("");
  RunResult r = medium_.Run({"-silent", "-noconsole"},
                            {{"LANG", "de_DE.UTF-8"}, {"ZORVEX_FAKE_JAVA_EXIT", "0"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Meridal Installer wird gestartet..."), std::string::npos) << r.out;
  r = medium_.Run({"-silent", "-noconsole"}, {{"LANG", "ja_JP.UTF-8"}});
  EXPECT_NE(r.out.find("Meridal Installer を起動しています..."), std::string::npos) << r.out;
}

TEST_P(LauncherTest, ExitStatusOfAWaitedJavaComesBackUnchanged) {
  medium_.WriteParamFile("");
  for (int code : {0, 3, 42}) {
    RunResult r = medium_.Run({"-silent", "-noconsole"},
                              {{"ZORVEX_FAKE_JAVA_EXIT", std::to_string(code)}});
    EXPECT_EQ(r.status, code) << r.out << r.err;
  }
  ASSERT_EQ(medium_.JavaRuns().size(), 3u);
  // Without a bootstrap the launcher waits and removes its scratch directory.
  EXPECT_TRUE(medium_.TempEntries().empty());
}

TEST_P(LauncherTest, JavaNotWaitedForGivesStillActive) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
  RunResult r = medium_.Run({"-silent", "-noconsole"}, {{"ZORVEX_FAKE_JAVA_EXIT", "7"},
                                                        {"ZORVEX_FAKE_JAVA_SLEEP_MS", "1500"}});
  EXPECT_EQ(r.status, Status(259)) << r.out << r.err;
  EXPECT_EQ(medium_.WaitForJavaRuns(1, 20000).size(), 1u);
  EXPECT_EQ(medium_.TempEntries().size(), 1u);  // left to the Java side
}

INSTANTIATE_TEST_SUITE_P(Targets, LauncherTest, ::testing::ValuesIn(BuiltTargets()),
                         [](const ::testing::TestParamInfo<Target>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace zorvex::blackbox
