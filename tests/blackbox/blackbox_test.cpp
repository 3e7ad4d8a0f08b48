// Black-box tests of the built launchers: the native setup and, under Wine, setup.exe,
// each run against a medium made in a temporary directory with a recording Java stand-in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

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

// --- Parameter file, scratch directory, logs -----------------------------------------

// The element after `option` in what Java received; empty when absent.
std::string After(const JavaRecord& run, const std::string& option) {
  for (size_t i = 0; i + 1 < run.args.size(); ++i) {
    if (run.args[i] == option) return run.args[i + 1];
  }
  return "";
}

class LoggedLauncherTest : public LauncherTest {
 protected:
  void SetUp() override {
    inventory_ = medium_.root + "/inventory";
    medium_.SetRegistryValue("SOFTWARE\\ZORVEX", "inst_loc", medium_.TargetPath(inventory_));
  }
  void TearDown() override { medium_.DeleteRegistryKey("SOFTWARE\\ZORVEX"); }
  // The install log of a run started with -rtimestamp T.
  std::string Log(const std::string& stem = "installActions") {
    return medium_.ReadFile(inventory_ + "/logs/" + stem + "T.log");
  }
  std::string inventory_;
};

TEST_P(LoggedLauncherTest, ParamFileBesideTheLauncherWinsOverTheParent) {
  medium_.WriteParamFile("");
  medium_.WriteParamFile("", medium_.root + "/zorparam.ini");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string expected =
      "Using the parameter file " + medium_.TargetPath(medium_.medium_dir + "/zorparam.ini") + ".\n";
  EXPECT_EQ(Log().rfind(expected, 0), 0u) << Log();
  EXPECT_EQ(Log().find("not found"), std::string::npos);
}

TEST_P(LoggedLauncherTest, ParamFileOnlyInTheParent) {
  medium_.WriteParamFile("", medium_.root + "/zorparam.ini");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Log().rfind("The parameter file was not found at " +
                            medium_.TargetPath(medium_.medium_dir + "/zorparam.ini") + ".\n" +
                            "Using the parameter file " +
                            medium_.TargetPath(medium_.root + "/zorparam.ini") + ".\n",
                        0),
            0u)
      << Log();
}

TEST_P(LoggedLauncherTest, NoParamFileEndsWithMinusTwo) {
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"});
  EXPECT_EQ(r.status, Status(-2));
  const std::string message =
      "The parameter file zorparam.ini was not found. The installer cannot continue.\n";
  EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Press Enter to exit."), std::string::npos) << r.out;
  std::string log = Log();
  EXPECT_NE(log.find(message), std::string::npos) << log;
  size_t lines = 0;
  for (size_t p = log.find("was not found at"); p != std::string::npos;
       p = log.find("was not found at", p + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 4u) << log;
  EXPECT_TRUE(medium_.JavaRuns().empty());
}

TEST_P(LoggedLauncherTest, GivenParamFileMissingFallsBackToTheDefaultPlace) {
  medium_.WriteParamFile("");
  std::string missing = medium_.TargetPath(medium_.root + "/nowhere.ini");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T", "-paramFile", missing});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string expected = "The parameter file " + missing + " was not found.\n" +
                         "Using the parameter file " +
                         medium_.TargetPath(medium_.medium_dir + "/zorparam.ini") + " instead.\n";
  EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
  EXPECT_EQ(Log().rfind(expected, 0), 0u) << Log();
}

TEST_P(LoggedLauncherTest, ModeLogNames) {
  medium_.WriteParamFile("");
  medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T", "-cleanup"});
  EXPECT_FALSE(Log("Cleanup").empty());
  medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T", "-saveInventory", "-cleanup"});
  EXPECT_FALSE(Log("SaveInventory").empty());
}

TEST_P(LauncherTest, TemporaryDirectoryChoice) {
  medium_.WriteParamFile("");
  const std::string sep(1, medium_.Sep());
  const std::string tmp = medium_.TargetPath(medium_.root + "/tmpdir");
  fs::create_directories(medium_.root + "/tmpdir");
  const std::string fallback = windows() ? "C:\\TEMP" : "/tmp";
  struct Case {
    const char* name;
    Env env;
    std::string parent;
  };
  const Case cases[] = {
      {"TEMP used", {{"TEMP", medium_.TargetPath(medium_.temp_dir) + sep}},
       medium_.TargetPath(medium_.temp_dir)},
      {"TEMP relative: fallback, TMP not asked", {{"TEMP", "temp"}, {"TMP", tmp}}, fallback},
      {"TEMP with a semicolon", {{"TEMP", tmp + ";" + tmp}}, fallback},
      {"TEMP unset, TMP set", {{"TEMP", kUnset}, {"TMP", tmp}}, tmp},
  };
  size_t runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = medium_.Run({"-silent", "-noconsole"}, c.env);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<JavaRecord> java = medium_.JavaRuns();
    ASSERT_EQ(java.size(), ++runs);
    std::string scratch = After(java.back(), "-scratchPath");
    EXPECT_EQ(scratch.substr(0, scratch.find_last_of(medium_.Sep())), c.parent) << scratch;
    EXPECT_NE(scratch.find(sep + "ZorInstall"), std::string::npos);
  }
}

TEST_P(LauncherTest, LaunchesInTheSameSecondGetTheirOwnScratchDirectories) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");  // not waited for: the directories stay
  for (int i = 0; i < 3; ++i) {
    RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"},
                              {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "500"}});
    EXPECT_EQ(r.status, Status(259)) << r.out << r.err;
  }
  EXPECT_EQ(medium_.TempEntries(),
            (std::vector<std::string>{"ZorInstallT", "ZorInstallT_1", "ZorInstallT_2"}));
}

// Side by side, all in one second: the directory is taken by creating it, so no two runs
// share one even when they race.
TEST_P(LauncherTest, ConcurrentLaunchesNeverShareAScratchDirectory) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
  std::vector<std::thread> runs;
  for (int i = 0; i < 3; ++i) {
    runs.emplace_back([this] {
      medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"},
                  {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "500"}});
    });
  }
  for (std::thread& t : runs) t.join();
  EXPECT_EQ(medium_.TempEntries(),
            (std::vector<std::string>{"ZorInstallT", "ZorInstallT_1", "ZorInstallT_2"}));
  std::vector<JavaRecord> java = medium_.WaitForJavaRuns(3, 20000);
  ASSERT_EQ(java.size(), 3u);
  std::set<std::string> scratch;
  for (const JavaRecord& run : java) scratch.insert(After(run, "-scratchPath"));
  EXPECT_EQ(scratch.size(), 3u);
}

TEST_P(LauncherTest, RegistryThatCannotBeWrittenStopsTheRun) {
  if (windows()) GTEST_SKIP() << "Wine grants every program write access to the registry";
  medium_.WriteParamFile("");
  fs::remove_all(medium_.registry_dir + "/HKEY_LOCAL_MACHINE/SOFTWARE");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, Status(-1));
  EXPECT_NE(r.out.find("The installer cannot write to the system registry."), std::string::npos)
      << r.out;
  EXPECT_TRUE(medium_.JavaRuns().empty());
  EXPECT_EQ(medium_.TempEntries().size(), 1u);
}

TEST_P(LauncherTest, TimestampThatIsAPathIsNotUsed) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
  std::string bad = std::string("..") + medium_.Sep() + "escape";
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", bad},
                            {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "500"}});
  EXPECT_EQ(r.status, Status(259)) << r.out << r.err;
  std::vector<std::string> entries = medium_.TempEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_NE(entries[0], "ZorInstall..");
  EXPECT_FALSE(fs::exists(medium_.root + "/escape"));
  std::string log = medium_.ReadFile(medium_.temp_dir + "/" + entries[0] + "/installActions" +
                                     entries[0].substr(10) + ".log");
  EXPECT_NE(log.find("-rtimestamp \"" + bad + "\" cannot name"), std::string::npos) << log;
}

std::string TargetName(const ::testing::TestParamInfo<Target>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Targets, LauncherTest, ::testing::ValuesIn(BuiltTargets()), TargetName);
INSTANTIATE_TEST_SUITE_P(Targets, LoggedLauncherTest, ::testing::ValuesIn(BuiltTargets()),
                         TargetName);

}  // namespace
}  // namespace zorvex::blackbox
