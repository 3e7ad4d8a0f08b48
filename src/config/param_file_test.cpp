#include "config/param_file.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "inventory/logs.h"
#include "options/option_state.h"
#include "paths/paths.h"

namespace zorvex::config {
namespace {

class ParamFileTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    AddCatalogue("cons.nls", {{"S_ZEK", "T"},
                              {"S_ERZORPARAMNFD_LOC", "not at %s\n"},
                              {"S_USING_PARAMFILE", "using %s\n"},
                              {"S_ERUSR_PARAMFILE_NOT_FOUND", "missing %s\n"},
                              {"S_DEF_PARAMFILE", "instead %s\n"},
                              {"S_ERZORPARAMNFD", "no zorparam\n"}});
    LoadCatalogues();
    Options().timestamp = "TS";
    Options().silent = true;
    system_.env["TEMP"] = "C:\\T";
  }
  // The run's scratch directory is made first, as the run sequence makes it.
  int Read(const std::string& given = "") {
    param_ = given;
    scratch_.clear();
    startup_ = "C:\\media\\disk1";
    std::unique_ptr<platform::TreeWriter> held;
    if (!paths::CreateScratchDirectory(&scratch_, &held)) return -1;
    return ReadParameterFile(&param_, &scratch_, &startup_, &settings_);
  }
  std::string InstallLog() { return files_.Contents("C:\\T\\ZorInstallTS\\installActionsTS.log"); }
  std::string param_, scratch_, startup_;
  Settings settings_;
};

TEST_F(ParamFileTest, DefaultsOfAnEmptyMainSection) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Other]\nBOOTSTRAP=T\n");
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(settings_.distribution, "F");
  EXPECT_EQ(settings_.zek_version, "0.0.0.0.0");
  EXPECT_EQ(settings_.usejreonly, "FALSE");
  EXPECT_EQ(settings_.disable_jre_prompt, "FALSE");
  EXPECT_EQ(settings_.zek_location, "C:\\media\\disk1");
  EXPECT_EQ(settings_.zek_core_location, "C:\\media\\disk1");
  EXPECT_EQ(settings_.zpatch_location, "C:\\media\\disk1");
  EXPECT_EQ(settings_.bootstrap, "F");
  EXPECT_EQ(settings_.bootstrap_size, "52");
  EXPECT_EQ(settings_.install_class, "zorvex.admkit.qii.qiic.QiicInstaller");
  EXPECT_EQ(settings_.install_oneclick_class, "zorvex.admkit.qio.qioc.QiocOneClickInstaller");
  EXPECT_EQ(settings_.wait_for_completion, "F");
  EXPECT_EQ(settings_.copy_threads, "0");
  EXPECT_TRUE(settings_.bootstrap_comps.empty());
  EXPECT_EQ(scratch_, "C:\\T\\ZorInstallTS");
  EXPECT_EQ(param_, "C:\\media\\disk1\\zorparam.ini");
  EXPECT_EQ(files_.cwd, "C:\\media\\disk1");
}

// Every key of the main section: its default when the file lacks it, and what a value of
// "Tvalue" becomes (first-character keys keep only the "T").
TEST_F(ParamFileTest, EveryKeyWithItsDefaultAndItsReading) {
  struct Key {
    const char* name;
    std::string Settings::*setting;  // null: JRE_LOCATION, in the option state
    const char* default_value;
    bool first_character;
  };
  const Key keys[] = {
      {"DISTRIBUTION", &Settings::distribution, "F", true},
      {"JRE_SCRATCH_LOC", &Settings::jre_scratch_loc, "", false},
      {"JRE_LOCATION", nullptr, "", false},
      {"ACCESS_DIR", &Settings::access_dir, "", false},
      {"JRE_MEMORY_OPTIONS", &Settings::jre_memory_options, "", false},
      {"ZEK_VERSION", &Settings::zek_version, "0.0.0.0.0", false},
      {"JRE_VERSION", &Settings::jre_version, "", false},
      {"USEJREONLY", &Settings::usejreonly, "FALSE", false},
      {"USEJDKONLY", &Settings::usejdkonly, "FALSE", false},
      {"DISABLE_JRE_PROMPT", &Settings::disable_jre_prompt, "FALSE", false},
      {"ZEK_LOCATION", &Settings::zek_location, "C:\\media\\disk1", false},
      {"ZEK_CORE_LOCATION", &Settings::zek_core_location, "C:\\media\\disk1", false},
      {"ZPATCH_LOCATION", &Settings::zpatch_location, "C:\\media\\disk1", false},
      {"BOOTSTRAP_SIZE", &Settings::bootstrap_size, "52", false},
      {"THIN_JDBC_FILENAME", &Settings::thin_jdbc_filename, "", false},
      {"JRE_OSDPARAM", &Settings::jre_osdparam, "", false},
      {"ADDTO_CLASSPATH", &Settings::addto_classpath, "", false},
      {"INSTALL_CLASS", &Settings::install_class, "zorvex.admkit.qii.qiic.QiicInstaller", false},
      {"INSTALL_ONECLICK_CLASS", &Settings::install_oneclick_class,
       "zorvex.admkit.qio.qioc.QiocOneClickInstaller", false},
      {"WAIT_FOR_COMPLETION", &Settings::wait_for_completion, "F", true},
      {"COPY_THREADS", &Settings::copy_threads, "0", false},
      {"EXT_JLIB", &Settings::ext_jlib, "", false},
      {"EXT_LIB", &Settings::ext_lib, "", false},
      {"EXT_BIN", &Settings::ext_bin, "", false},
  };
  auto value = [&](const Key& k) -> std::string {
    return k.setting == nullptr ? Options().jre_location : settings_.*k.setting;
  };
  for (const Key& k : keys) {
    SCOPED_TRACE(k.name);
    settings_ = Settings();
    Options().jre_location.clear();
    files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\nOTHER=1\n");
    ASSERT_EQ(Read(), 0);
    EXPECT_EQ(value(k), k.default_value);
    settings_ = Settings();
    files_.AddFile("C:\\media\\disk1\\zorparam.ini",
                   std::string("[Zorvex]\n") + k.name + "=Tvalue\n");
    ASSERT_EQ(Read(), 0);
    // A relative runtime location is the launcher's directory's, made absolute at once.
    const char* reading = k.setting == nullptr ? "C:\\media\\disk1\\Tvalue"
                          : k.first_character  ? "T"
                                               : "Tvalue";
    EXPECT_EQ(value(k), reading);
  }
}

// The key table that media are checked against names exactly the keys read here (and
// those read later in the run), so that the check cannot drift from the launcher.
TEST_F(ParamFileTest, KeyTableNamesEveryKeyRead) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\nDISTRIBUTION=TRUE\n");
  ASSERT_EQ(Read(), 0);
  std::set<std::string> table, read;
  for (const ParamKey& key : kParamKeys) {
    if (key.later_default == nullptr) table.insert(std::string(kMainSection) + "/" + key.name);
  }
  for (const std::string& key : system_.profile_keys_read) {
    if (key.rfind(std::string(kMainSection) + "/", 0) == 0) read.insert(key);
  }
  EXPECT_EQ(read, table);
}

TEST_F(ParamFileTest, FlagSettingsKeepTheirFirstCharacter) {
  const std::tuple<const char*, const char*> cases[] = {
      {"TRUE", "T"}, {"yes", "y"}, {"", "F"}, {"true", "t"}};
  for (const auto& [value, expected] : cases) {
    files_.AddFile("C:\\media\\disk1\\zorparam.ini",
                   std::string("[Zorvex]\nBOOTSTRAP=") + value + "\nCOPY_THREADS=00\n");
    ASSERT_EQ(Read(), 0);
    EXPECT_EQ(settings_.bootstrap, expected) << value;
    EXPECT_EQ(settings_.copy_threads, "00");
  }
}

TEST_F(ParamFileTest, DistributionModeStagesFromTheMedium) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\nDISTRIBUTION=TRUE\nBOOTSTRAP=F\n");
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(settings_.zek_location,
            "..\\stage\\Components\\zorvex.swd.zek\\0.0.0.0.0\\1\\DataFiles\\");
  EXPECT_EQ(settings_.zpatch_location,
            "..\\stage\\Components\\zorvex.swd.zpatch\\0.0.0.0.0\\1\\DataFiles\\");
  EXPECT_EQ(settings_.bootstrap, "TRUE");
}

TEST_F(ParamFileTest, JreLocationFromTheCommandLineWins) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini",
                 "[Zorvex]\nJRE_LOCATION=C:\\file\\jre\nJRE_SCRATCH_LOC=jre\n");
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(Options().jre_location, "C:\\file\\jre");
  EXPECT_EQ(settings_.jre_scratch_location, "C:\\T\\ZorInstallTS\\jre");
  Options().jre_location = "D:\\mine";
  Options().jreloc_given = true;
  settings_ = Settings();
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(Options().jre_location, "D:\\mine");
  EXPECT_EQ(settings_.jre_scratch_location, "");
}

TEST_F(ParamFileTest, PrereqConfigLocationFromFileOnlyWhenNotAssigned) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini",
                 "[Zorvex]\nPREREQ_CONFIG_LOCATION=C:\\file\\prereq\n");
  Options().prereq_config_location = "C:\\cmd";
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(Options().prereq_config_location, "C:\\cmd");
  Options().from_location_used = true;  // derived from FROM_LOCATION: the file may override
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(Options().prereq_config_location, "C:\\file\\prereq");
}

TEST_F(ParamFileTest, BootstrapCompsSplitAndCapped) {
  std::vector<std::string> dropped;
  EXPECT_EQ(SplitBootstrapComps("a,,b", &dropped), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SplitBootstrapComps("a, b", &dropped), (std::vector<std::string>{"a", " b"}));
  EXPECT_TRUE(SplitBootstrapComps("", &dropped).empty());
  std::string many;
  for (int i = 1; i <= 18; ++i) many += "c" + std::to_string(i) + ",";
  files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\nBOOTSTRAP_COMPS=" + many + "\n");
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(settings_.bootstrap_comps.size(), 16u);
  EXPECT_EQ(settings_.bootstrap_comps.back(), "c16");
  EXPECT_NE(InstallLog().find("not bootstrapped: c17, c18"), std::string::npos);
}

TEST_F(ParamFileTest, FileBesideTheLauncherWinsOverTheParent) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\n");
  files_.AddFile("C:\\media\\zorparam.ini", "[Zorvex]\n");
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(InstallLog(), "using C:\\media\\disk1\\zorparam.ini\n");
}

TEST_F(ParamFileTest, FileInTheParentOnly) {
  files_.AddFile("C:\\media\\zorparam.ini", "[Zorvex]\n");
  files_.cwd = "C:\\";
  ASSERT_EQ(Read(), 0);
  EXPECT_EQ(InstallLog(),
            "not at C:\\media\\disk1\\zorparam.ini\n"
            "using C:\\media\\disk1\\..\\zorparam.ini\n");
}

TEST_F(ParamFileTest, GivenFileMissingFallsBackWithTwoMessages) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\n");
  ASSERT_EQ(Read("C:\\nowhere.ini"), 0);
  EXPECT_EQ(console_.printed, "missing C:\\nowhere.ini\ninstead C:\\media\\disk1\\zorparam.ini\n");
  EXPECT_EQ(InstallLog(), console_.printed);
}

TEST_F(ParamFileTest, NoFileAnywhere) {
  EXPECT_EQ(Read(), -2);
  EXPECT_EQ(console_.printed, "no zorparam\n");
  EXPECT_EQ(InstallLog(),
            "not at C:\\media\\disk1\\zorparam.ini\n"
            "not at C:\\media\\disk1\\..\\zorparam.ini\n"
            "not at C:\\media\\disk1\\zorparam.ini\n"
            "not at C:\\media\\disk1\\..\\zorparam.ini\n"
            "no zorparam\n");
}

TEST_F(ParamFileTest, ScratchFailureStopsBeforeTheSearch) {
  files_.mkdir_fails.insert("C:\\T");
  EXPECT_EQ(Read(), -1);
}

TEST_F(ParamFileTest, ReadyScratchDirectoryIsNotCreated) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\n");
  Options().scratch_path_given = true;
  param_.clear();
  scratch_ = "C:\\given";
  startup_ = "C:\\media\\disk1";
  ASSERT_EQ(ReadParameterFile(&param_, &scratch_, &startup_, &settings_), 0);
  EXPECT_EQ(scratch_, "C:\\given");
  EXPECT_FALSE(files_.IsDir("C:\\T"));
}

TEST_F(ParamFileTest, DerivedLocations) {
  files_.AddFile("C:\\media\\disk1\\zorparam.ini", "[Zorvex]\nSOURCE=stage\\products.xml\n");
  ASSERT_EQ(Read(), 0);
  files_.AddDir("C:\\media\\jlib");
  files_.AddDir("C:\\media\\images");
  DeriveInstallerLocations(&settings_);
  EXPECT_EQ(settings_.images_location, "C:\\media\\disk1\\..\\images");
  EXPECT_EQ(settings_.zek_location, "..");
  Options().jre_location = "";
  DeriveJavaLocations(param_, &settings_);
  // Java starts elsewhere: what the launcher's directory makes of a relative value is
  // written out in full.
  EXPECT_EQ(settings_.jre_bin_location, "C:\\media\\disk1\\bin");
  EXPECT_EQ(settings_.library_location, "C:\\media\\disk1\\..\\lib\\win64");
  EXPECT_EQ(settings_.zek_jlib_location, "C:\\media\\disk1\\..\\jlib");
  EXPECT_EQ(settings_.zpatch_jlib_location, "C:\\media\\disk1\\jlib");
  EXPECT_EQ(settings_.source, "stage\\products.xml");
  EXPECT_EQ(settings_.nls_enabled, "TRUE");
}

}  // namespace
}  // namespace zorvex::config
