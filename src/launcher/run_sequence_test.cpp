#include "launcher/run_sequence.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "inventory/logs.h"
#include "options/option_state.h"

namespace zorvex {
namespace {

// The run sequence against the doubles: a medium in C:\media\disk1, a Java runtime in
// C:\jre, a writable registry and a temporary directory C:\T.
class RunSequenceTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    AddCatalogue("cons.nls", {{"S_ZEK", "Title"},
                              {"S_STARTINSTALLERMSG", "start %s\n"},
                              {"S_ERZORPARAMNFD", "no param file\n"},
                              {"S_ENTER_ENTER", "press enter\n"},
                              {"S_ERRORINVOKINGFROMCD", "not from CD: %s\n"},
                              {"S_ERR_REG_ACCESS", "no registry\n"},
                              {"S_ERJRENFD", "no java at %s (%s)\n"},
                              {"S_ERR_PREREQ_CONFIG_LOC", "need config\n"},
                              {"S_ERR_INVALID_PREREQ_CONFIG_LOC", "bad config %s\n"},
                              {"S_ERBOOTSTRAP_RANGE", "range %d\n"},
                              {"S_JRELOC_ERROR_NOCONSOLE_WIN", "no jre known\n"}});
    registry_.AddKey("Software");
    system_.env["TEMP"] = "C:\\T";
    files_.AddFile("C:\\jre\\bin\\java.exe");
    files_.AddFile("C:\\jre\\bin\\javaw.exe");
  }
  void TearDown() override { inventory::CloseLog(); }
  void ParamFile(const std::string& keys) {
    files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\n" + keys);
  }
  int Run(const std::string& command_line) {
    return RunLauncher(fake_.Doubles(), {system_.module_path, command_line});
  }
  std::vector<std::string> ScratchDirs() { return files_.Children("C:\\T"); }
};

TEST_F(RunSequenceTest, NoCatalogueEndsWithOne) {
  files_ = testing::FakeFileSystem(style_);
  EXPECT_EQ(Run(""), 1);
  EXPECT_EQ(console_.err.substr(0, console_.err.find("The catalogue ")),
            "\nERROR: Could not read any NLS message catalogue!\n");
  EXPECT_NE(console_.err.find("cons.nls cannot be read."), std::string::npos);
  EXPECT_TRUE(processes_.started.empty());
}

// A given directory that its name no longer leads to once held (a link turned meanwhile,
// a name Windows reads otherwise) is neither staged into nor handed to Java.
TEST_F(RunSequenceTest, GivenDirectoryMustBeTheOneHeld) {
  ParamFile("JRE_LOCATION=C:\\jre\n");
  files_.AddDir("C:\\given");
  files_.AddDir("C:\\theirs");
  files_.held_as["C:\\given"] = "C:\\theirs";
  EXPECT_EQ(Run("-silent -rscratchPath C:\\given"), -1);
  EXPECT_NE(console_.printed.find("-rscratchPath C:\\given leads to one directory"),
            std::string::npos)
      << console_.printed;
  EXPECT_TRUE(processes_.started.empty());
  EXPECT_TRUE(files_.Children("C:\\theirs").empty());
}

TEST_F(RunSequenceTest, WaitedRunPassesJavasStatusBackAndRemovesTheScratchDirectory) {
  ParamFile("JRE_LOCATION=C:\\jre\n");
  processes_.exit_code = 3;
  EXPECT_EQ(Run("-silent"), 3);
  ASSERT_EQ(processes_.started.size(), 1u);
  EXPECT_EQ(processes_.started[0].rfind("\"C:\\jre\\bin\\java.exe\" ", 0), 0u);
  // The scratch directory goes; the install log of the failed run stays beside it.
  const std::string log = "installActions" + paths::TakeRunTimestamp() + ".log";
  EXPECT_EQ(ScratchDirs(), std::vector<std::string>{log});
  EXPECT_TRUE(console_.created);
  EXPECT_EQ(console_.printed,
            "start Meridal Installer\n\nThe installation did not succeed; its install log is kept "
            "as C:\\T\\" +
                log + "\n");
  files_.RemoveFile("C:\\T\\" + log);
  processes_.exit_code = 0;
  EXPECT_EQ(Run("-silent"), 0);
  EXPECT_TRUE(ScratchDirs().empty());
}

TEST_F(RunSequenceTest, BootstrappedRunDoesNotWaitAndLeavesTheScratchDirectory) {
  ParamFile("JRE_LOCATION=C:\\jre\nBOOTSTRAP=TRUE\n");
  EXPECT_EQ(Run("-noconsole"), 259);
  EXPECT_EQ(processes_.waits, 0);
  EXPECT_EQ(ScratchDirs().size(), 1u);
  EXPECT_FALSE(console_.created);
  // Java starts in the run's own directory, not in the TEMP others may write to.
  EXPECT_EQ(files_.cwd, "C:\\T\\" + ScratchDirs()[0]);
}

TEST_F(RunSequenceTest, WaitConditionsAfterABootstrap) {
  for (const char* line : {"-waitForCompletion", "-cleanup", "-saveInventory"}) {
    ParamFile("JRE_LOCATION=C:\\jre\nBOOTSTRAP=T\n");
    processes_.exit_code = 4;
    EXPECT_EQ(Run(line), 4) << line;
  }
  ParamFile("JRE_LOCATION=C:\\jre\nBOOTSTRAP=T\nWAIT_FOR_COMPLETION=TRUE\n");
  EXPECT_EQ(Run(""), 4);
}

TEST_F(RunSequenceTest, MissingParameterFileEndsWithMinusTwoAfterThePause) {
  console_.input = "\n";
  EXPECT_EQ(Run("-silent"), -2);
  // The reader reports the missing file; the start message and the checks still come
  // before the run ends.
  EXPECT_EQ(console_.printed, "no param file\nstart Meridal Installer\n\npress enter\n");
  EXPECT_EQ(console_.chars_read, 1);
}

TEST_F(RunSequenceTest, DistributionCheckRefusesDetachHome) {
  ParamFile("DISTRIBUTION=TRUE\n");
  EXPECT_EQ(Run("-detachHome -J-Dx"), -1);
  EXPECT_EQ(console_.printed, "not from CD: -DETACHHOME -J-DX\n");
  EXPECT_TRUE(processes_.started.empty());
}

TEST_F(RunSequenceTest, PrereqCheckerNeedsAnExistingConfiguration) {
  ParamFile("JRE_LOCATION=C:\\jre\n");
  EXPECT_EQ(Run("-prereqChecker -silent"), -1);
  EXPECT_EQ(console_.printed, "need config\n");
  console_.printed.clear();
  EXPECT_EQ(Run("-prereqChecker PREREQ_CONFIG_LOCATION=C:\\none"), -1);
  EXPECT_EQ(console_.out, "bad config C:\\none\n");
  files_.AddDir("C:\\cfg");
  EXPECT_EQ(Run("-prereqChecker PREREQ_CONFIG_LOCATION=C:\\cfg"), 0);
}

TEST_F(RunSequenceTest, RegistryWithoutWriteAccessStopsTheRun) {
  ParamFile("JRE_LOCATION=C:\\jre\n");
  registry_.write_denied = true;
  EXPECT_EQ(Run("-silent"), -1);
  EXPECT_NE(console_.printed.find("no registry\n"), std::string::npos);
  EXPECT_TRUE(processes_.started.empty());
  EXPECT_EQ(ScratchDirs().size(), 1u);  // left for the user to look at
}

TEST_F(RunSequenceTest, MissingJavaStillProbesAndCleansUp) {
  ParamFile("JRE_LOCATION=C:\\nojre\n");
  console_.input = "\n";
  EXPECT_EQ(Run("-silent"), -1);
  EXPECT_NE(console_.printed.find("no java at C:\\nojre\\bin\\java.exe (1.3.1)\n"),
            std::string::npos);
  EXPECT_FALSE(registry_.log.empty());
  EXPECT_EQ(ScratchDirs(),
            std::vector<std::string>{"installActions" + paths::TakeRunTimestamp() + ".log"});
  EXPECT_TRUE(processes_.started.empty());
}

TEST_F(RunSequenceTest, BootstrapSizeOutOfRangeGoesOnWithoutCopying) {
  ParamFile("JRE_LOCATION=C:\\jre\nBOOTSTRAP=T\nBOOTSTRAP_SIZE=2048\n");
  EXPECT_EQ(Run("-silent"), 259);
  EXPECT_NE(console_.printed.find("range 2047\n"), std::string::npos);
  EXPECT_NE(processes_.started[0].find("bootstrap=TRUE"), std::string::npos);
}

TEST_F(RunSequenceTest, NoRuntimeKnownWithoutConsoleStops) {
  ParamFile("BOOTSTRAP=T\n");
  EXPECT_EQ(Run("-noconsole"), -1);
  EXPECT_EQ(console_.boxes, (std::vector<std::string>{"Title|no jre known\n"}));
}

TEST_F(RunSequenceTest, NoRuntimeKnownAndPromptDisabledIsAFailure) {
  ParamFile("BOOTSTRAP=T\nDISABLE_JRE_PROMPT=TRUE\n");
  EXPECT_EQ(Run("-silent"), -1);
  EXPECT_NE(console_.printed.find("\n\nno jre known\n"), std::string::npos);
  EXPECT_TRUE(processes_.started.empty());
}

TEST_F(RunSequenceTest, BootstrapOnlyCompletesWithoutJava) {
  ParamFile("JRE_LOCATION=C:\\jre\nBOOTSTRAP=T\n");
  files_.AddDir("D:\\stage");
  EXPECT_EQ(Run("-bootstrapOnly BOOTSTRAP_LOC=D:\\stage"), 0);
  EXPECT_EQ(console_.out, "\nBootStrap To D:\\stage Completed\n");
  EXPECT_TRUE(processes_.started.empty());
  EXPECT_FALSE(files_.IsDir("C:\\T"));
}

// Without BOOTSTRAP_LOC there is no place named to stage into: the run gets a scratch
// directory like any other and names it in its completion line.
TEST_F(RunSequenceTest, BootstrapOnlyWithoutLocationStagesIntoAScratchDirectory) {
  ParamFile("JRE_LOCATION=C:\\jre\nBOOTSTRAP=T\n");
  EXPECT_EQ(Run("-bootstrapOnly -rtimestamp TS"), 0);
  EXPECT_EQ(console_.out, "\nBootStrap To C:\\T\\ZorInstallTS Completed\n");
  EXPECT_TRUE(files_.IsDir("C:\\T\\ZorInstallTS"));
  EXPECT_TRUE(processes_.started.empty());
}

TEST_F(RunSequenceTest, HelpSkipsTheStartMessageAndUsesJava) {
  ParamFile("JRE_LOCATION=C:\\jre\n");
  EXPECT_EQ(Run("-help"), 0);
  EXPECT_EQ(console_.printed.find("start"), std::string::npos);
  ASSERT_EQ(processes_.started.size(), 1u);
  EXPECT_EQ(processes_.started[0].rfind("\"C:\\jre\\bin\\java.exe\" ", 0), 0u);
  EXPECT_EQ(processes_.started[0].substr(processes_.started[0].size() - 7), " -help ");
}

// A "-J" inside the launcher's own path cuts the scanned copy of it, never the path Java
// is told about or the directory the run starts from.
TEST_F(RunSequenceTest, ModulePathWithJStaysWhole) {
  system_.module_path = "C:\\my-Java\\setup.exe";
  files_.AddFile(system_.module_path, "MZ");
  AddCatalogue("cons.nls", {{"S_ZEK", "T"}});
  files_.AddFile("C:\\my-Java\\zorparam.ini", "[Zorvex]\nJRE_LOCATION=C:\\jre\n");
  EXPECT_EQ(Run("-silent"), 0);
  ASSERT_EQ(processes_.started.size(), 1u);
  EXPECT_NE(processes_.started[0].find("exec_location=\"C:\\my-Java\\setup.exe\""),
            std::string::npos);
  EXPECT_NE(processes_.started[0].find("startup_location=\"C:\\my-Java\""), std::string::npos);
}

TEST_F(RunSequenceTest, StartupLocation) {
  EXPECT_EQ(StartupLocationOf("C:\\m\\setup.exe"), "C:\\m");
  EXPECT_EQ(StartupLocationOf(".\\setup.exe"), ".");
  EXPECT_EQ(StartupLocationOf(".\\disk1\\setup.exe"), "disk1");
  EXPECT_EQ(StartupLocationOf("setup.exe"), ".");
}

}  // namespace
}  // namespace zorvex
