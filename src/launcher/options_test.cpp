#include "launcher/options.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "options/option_state.h"

namespace zorvex {
namespace {

class OptionsTest : public testing::PlatformTest {
 protected:
  // Scans the command line as the entry hands it over.
  void Scan(const std::string& command_line) {
    fake_.NewRun();
    args_ = {"C:\\media\\disk1\\setup.exe", command_line};
    ScanOptions(&args_, &last_upper_);
  }
  std::vector<std::string> args_;
  std::string last_upper_;
};

TEST_F(OptionsTest, ScanOptionValueEndsBeforeBlankHyphen) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"-paramFile", "x -paramFile C:\\a b\\zorparam.ini -silent ", "C:\\a b\\zorparam.ini"},
      {"-jreLoc", "-jreLoc C:\\x -y\\jre", "C:\\x"},
      {"-jreLoc", "-jreLoc \"C:\\q\" ", "\"C:\\q\""},
      {"-jreLoc", "a -jreLoc", ""},
      {"-paramFile", "-paramfile C:\\p", "unchanged"},
  };
  for (const auto& [name, text, expected] : cases) {
    SCOPED_TRACE(text);
    std::string target = "unchanged";
    ScanOptionValue(name, text, &target);
    EXPECT_EQ(target, expected);
  }
}

TEST_F(OptionsTest, ValuedOptions) {
  Scan("-paramFile C:\\a b\\zorparam.ini -rscratchPath C:\\s -rstartupLoc D:\\m -jreLoc");
  const OptionState& o = Options();
  EXPECT_EQ(o.param_file, "C:\\a b\\zorparam.ini");
  EXPECT_TRUE(o.scratch_path_given);
  EXPECT_EQ(o.scratch_path, "C:\\s");
  EXPECT_EQ(o.startup_loc, "D:\\m");
  EXPECT_TRUE(o.jreloc_given);
  EXPECT_EQ(o.jre_location, "");
}

TEST_F(OptionsTest, TimestampOptionNamesTheRunUnlessItIsAPath) {
  Options().timestamp = "taken";
  fake_.NewRun();
  args_ = {"C:\\setup.exe", "-rtimestamp T1"};
  ScanOptions(&args_, &last_upper_);
  EXPECT_EQ(Options().timestamp, "T1");
  for (const char* bad : {"-rtimestamp ..\\x", "-rtimestamp a\\b", "-rtimestamp a/b"}) {
    fake_.NewRun();
    Options().timestamp = "taken";
    args_ = {"C:\\setup.exe", bad};
    ScanOptions(&args_, &last_upper_);
    EXPECT_EQ(Options().timestamp, "taken") << bad;
    EXPECT_TRUE(Options().timestamp_refused);
  }
}

TEST_F(OptionsTest, FlagsAreFoundAnywhereInAnyCase) {
  struct Case {
    const char* line;
    bool OptionState::*flag;
  };
  const Case cases[] = {
      {"-silent", &OptionState::silent},
      {"-Silent", &OptionState::silent},
      {"-silentX", &OptionState::silent},
      {"xx-SILENT", &OptionState::silent},
      {"-DEBUGGER", &OptionState::debug},
      {"-help", &OptionState::help},
      {"-help", &OptionState::silent},
      {"-attachHome", &OptionState::silent},
      {"-bootstrapOnly", &OptionState::bootstraponly},
      {"-noconsole", &OptionState::noconsole},
      {"-printtime", &OptionState::printtime},
      {"-memory", &OptionState::memory},
      {"-waitForCompletion", &OptionState::waitforcompletion},
      {"-ignoreSysPrereqs", &OptionState::ignoresysprereqs},
      {"-executeSysPrereqs", &OptionState::executesysprereqs},
      {"-oneclick", &OptionState::oneclick},
      {"-nobootstrap", &OptionState::nobootstrap},
      {"-J-Dx -silent", &OptionState::silent},  // the -J tail is searched too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Scan(c.line);
    EXPECT_TRUE(Options().*c.flag);
  }
  Scan("-silent");
  EXPECT_FALSE(Options().debug);
}

TEST_F(OptionsTest, LogStemFollowsTableOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "installActions"},
      {"-cleanup -attachHome", "Cleanup"},
      {"-updateHomeDeps -detachHome -removeHome", "UpdateHomeDeps"},
      {"-saveInventory -cleanup", "SaveInventory"},
      {"-updateNodeList", "UpdateNodeList"},
  };
  for (const auto& [line, stem] : cases) {
    Scan(line);
    EXPECT_EQ(Options().log_stem, stem) << line;
  }
}

TEST_F(OptionsTest, JTailGoesToJava) {
  Scan("-silent -J-Xmx512m -Dflag");
  EXPECT_EQ(Options().j_options, "-Xmx512m -Dflag");
  EXPECT_FALSE(Options().memory_option_given);
  EXPECT_EQ(args_[1], "-silent ");
  EXPECT_EQ(last_upper_, "-SILENT -J-XMX512M -DFLAG");
  Scan("-J-mx512m");
  EXPECT_TRUE(Options().memory_option_given);
  Scan("-j-mx512m");
  EXPECT_FALSE(Options().j_options.has_value());
}

TEST_F(OptionsTest, AssignmentsReadTheirOwnValues) {
  files_.cwd = "C:\\work";
  Scan("-silent BOOTSTRAP_LOC=D:\\stage JVM_OPTIONS=\"-Xmx512m -Dk=v\" -debug");
  EXPECT_EQ(Options().bootstrap_loc, "D:\\stage");
  EXPECT_EQ(Options().jvm_options, "-Xmx512m -Dk=v");
  Scan("-J-Dx JVM_OPTIONS=-Xms8m");  // after -J: found in the uncut text
  EXPECT_EQ(Options().jvm_options, "-Xms8m");
  Scan("BOOTSTRAP_LOC= -silent");
  EXPECT_EQ(Options().bootstrap_loc, "");
  Scan("PREREQ_CONFIG_LOCATION=prereq");
  EXPECT_EQ(Options().prereq_config_location, "C:\\work\\prereq");
  EXPECT_FALSE(Options().from_location_used);
}

TEST_F(OptionsTest, FromLocationNamesThePrereqDirectoryBesideTheFile) {
  for (const char* line :
       {"FROM_LOCATION=D:\\stage\\products.xml", "FROM_LOCATION=\"D:\\stage\\products.xml\""}) {
    Scan(line);
    EXPECT_EQ(Options().prereq_config_location, "D:\\stage\\prereq") << line;
    EXPECT_TRUE(Options().from_location_used);
  }
  Scan("PREREQ_CONFIG_LOCATION=D:\\p FROM_LOCATION=D:\\stage\\products.xml");
  EXPECT_EQ(Options().prereq_config_location, "D:\\p");
  EXPECT_FALSE(Options().from_location_used);
}

TEST_F(OptionsTest, PrereqLogLocTakesTheTextAfterTheWord) {
  Scan("-silent -prereqLogLoc D:\\plogs -debug");
  EXPECT_EQ(Options().prereqlogloc, "D:\\plogs");
  EXPECT_TRUE(Options().debug);
}

TEST_F(OptionsTest, PrereqCheckerRetitles) {
  Scan("-prereqChecker");
  EXPECT_EQ(Options().installer_title, "Prerequisite Checker");
  Scan("");
  EXPECT_EQ(Options().installer_title, "Meridal Installer");
}

TEST_F(OptionsTest, ModeSelectionByPrecedence) {
  struct Case {
    const char* line;
    const char* main_class;
    const char* bootstrap;
    bool distribution_check;
  };
  const Case cases[] = {
      {"", "Install", "T", false},
      {"-preCloneSetup -prereqChecker", "zorvex.admkit.qii.qiic.QiicPreCloneSetup", "T", true},
      {"-prereqChecker", "zorvex.admkit.qip.qipc.qipcc.QipccPrereqApp", "T", false},
      {"-updateNodeList", "zorvex.admkit.qii.qiic.QiicUpdateNodeList", "F", true},
      {"-cleanup -attachHome", "zorvex.admkit.qii.qiic.QiicAttachHome", "T", false},
      {"-relink", "zorvex.admkit.qii.qiis.QiisMakeDeps", "T", false},
      {"-removeHome", "zorvex.admkit.qii.qiic.QiicRemoveHome", "F", true},
      {"-detachHome", "zorvex.admkit.qii.qiic.QiicDetachHome", "F", true},
      {"-updateHomeDeps", "zorvex.admkit.qii.qiic.QiicUpdateHomeDeps", "T", false},
      {"-addNode", "Install", "F", true},
      {"-cleanup", "zorvex.admkit.qii.qiic.QiicCleanup", "T", false},
      {"-saveInventory", "zorvex.admkit.qii.qiic.QiicSaveInventory", "T", false},
      {"-oneClick", "OneClick", "T", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Scan(c.line);
    config::Settings settings;
    settings.install_class = "Install";
    settings.install_oneclick_class = "OneClick";
    settings.bootstrap = "T";
    EXPECT_EQ(SelectMode(&settings), c.distribution_check);
    EXPECT_EQ(Options().main_class, c.main_class);
    EXPECT_EQ(settings.bootstrap, c.bootstrap);
  }
}

}  // namespace
}  // namespace zorvex
