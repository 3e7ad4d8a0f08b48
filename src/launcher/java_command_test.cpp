#include "launcher/java_command.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "options/option_state.h"

namespace zorvex {
namespace {

class JavaCommandTest : public testing::PlatformTest {
 protected:
  JavaCommandTest() {
    st_.jre_bin_location = "C:\\jre\\bin";
    st_.library_location = "C:\\m\\lib\\win64";
    st_.zek_core_location = "..";
    st_.zek_location = "..";
    st_.zpatch_location = "C:\\m";
    st_.zek_core_jlib_location = "C:\\core\\jlib";
    st_.zpatch_jlib_location = "C:\\patch\\jlib";
    st_.zek_jlib_location = "C:\\zek\\jlib";
    st_.bootstrap = "F";
    st_.distribution = "F";
    st_.copy_threads = "0";
    st_.nls_enabled = "TRUE";
    st_.install_oneclick_class = "OneClick";
    Options().main_class = "Main";
    Options().timestamp = "TS";
    in_.settings = &st_;
    in_.executable_name = "javaw.exe";
    in_.startup_location = "C:\\media\\disk1";
    in_.scratch_dir = "C:\\T\\ZorInstallTS";
    in_.exec_path = "C:\\media\\disk1\\setup.exe";
    in_.arguments = {"C:\\media\\disk1\\setup.exe", ""};
  }
  config::Settings st_;
  JavaCommandInputs in_;
};

TEST_F(JavaCommandTest, DefaultListElementByElement) {
  std::vector<std::string> list = BuildJavaArguments(in_);
  const std::vector<std::string> expected = {
      "\"C:\\jre\\bin\\javaw.exe\" ",
      "-Dzorvex.installer.library_loc=\"C:\\m\\lib\\win64\"",
      "-Dzorvex.installer.zek_loc=\"C:\\media\\disk1\\..\"",
      "-Dzorvex.installer.bootstrap=FALSE",
      "-Dzorvex.installer.startup_location=\"C:\\media\\disk1\"",
      "-Dzorvex.installer.jre_loc=\"C:\\media\\disk1\\..\\..\\jre\"",
      "-Dzorvex.installer.exec_location=\"C:\\media\\disk1\\setup.exe\" ",
      "-Dzorvex.installer.nlsEnabled=\"TRUE\" ",
      "-Dzorvex.installer.prereqConfigLoc=\"\" ",
      "",
      "-cp",
      BuildClassPath(in_.scratch_dir, st_),
      "Main",
      "-scratchPath",
      "\"C:\\T\\ZorInstallTS\" ",
      "-sourceType",
      "network",
      "-timestamp",
      "TS",
      "",
  };
  EXPECT_EQ(list, expected);
}

TEST_F(JavaCommandTest, ClassPathTemplates) {
  std::string cp = BuildClassPath("C:\\S", st_);
  // No empty entry (Java's working directory) and no bare "\" (the drive's root) after the
  // ADDTO_CLASSPATH entries: the real entries alone, in order.
  std::string expected = "\"C:\\S";
  for (const std::string& jar : kCoreJars) expected += ";C:\\core\\jlib\\" + jar;
  for (const std::string& jar : kPatchJars) expected += ";C:\\patch\\jlib\\" + jar;
  for (const std::string& jar : kInstallerJars) expected += ";C:\\zek\\jlib\\" + jar;
  for (const std::string& jar : kExtraJars) expected += ";C:\\zek\\jlib\\" + jar;
  expected += "\"";
  EXPECT_EQ(cp, expected);
  EXPECT_EQ(kCoreJars.size() + kPatchJars.size(), 16u);
  EXPECT_EQ(kInstallerJars.size() + kExtraJars.size(), 25u);

  st_.addto_classpath = "a.jar;;b";
  st_.thin_jdbc_filename = "jdbc.jar";
  cp = BuildClassPath("C:\\S", st_);
  EXPECT_NE(cp.find(";C:\\S\\a.jar;C:\\S\\b;C:\\zek\\jlib\\zorextensions.jar;"), std::string::npos);
  EXPECT_TRUE(cp.ends_with(";C:\\zek\\jlib\\jdbc.jar\"")) << cp;
}

TEST_F(JavaCommandTest, ExtJlibFilesJoinTheClassPath) {
  EXPECT_EQ(ListExtJlibJars("C:\\S", ""), "");
  EXPECT_EQ(ListExtJlibJars("C:\\S", "C:\\ext"), "");  // not staged: cannot be listed
  files_.AddFile("C:\\S\\ext\\jlib\\b.jar");
  files_.AddFile("C:\\S\\ext\\jlib\\a.jar");
  files_.AddDir("C:\\S\\ext\\jlib\\sub");
  EXPECT_EQ(ListExtJlibJars("C:\\S", "C:\\ext"),
            ";C:\\S\\ext\\jlib\\a.jar;C:\\S\\ext\\jlib\\b.jar;");
}

TEST_F(JavaCommandTest, OptionalElements) {
  st_.jre_osdparam = "-d64";
  st_.copy_threads = "00";
  st_.jre_memory_options = "  -Xms64m   -Xmx256m ";
  Options().jvm_options = "-Da=1 -Db=2";
  Options().j_options = "";
  Options().memory = true;
  in_.extjre = true;
  std::vector<std::string> list = BuildJavaArguments(in_);
  auto has = [&](const std::string& e) {
    return std::find(list.begin(), list.end(), e) != list.end();
  };
  EXPECT_EQ(list[1], "-d64");
  EXPECT_TRUE(has("-Dzorvex.installer.extjre=\"true\" "));
  EXPECT_TRUE(has("-Dzorvex.installer.copythreads=00 "));
  auto cp = std::find(list.begin(), list.end(), "-cp");
  const std::vector<std::string> before_cp(std::find(list.begin(), list.end(), "") + 1, cp);
  EXPECT_EQ(before_cp,
            (std::vector<std::string>{"-Xms64m", "-Xmx256m", "-Da=1", "-Db=2", "", "-verbose:gc"}));
  Options().memory_option_given = true;  // "-mx" in the -J text drops the memory words only
  list = BuildJavaArguments(in_);
  EXPECT_FALSE(has("-Xms64m"));
  EXPECT_TRUE(has("-Da=1"));
  st_.copy_threads = " 0";
  list = BuildJavaArguments(in_);
  EXPECT_TRUE(has("-Dzorvex.installer.copythreads= 0 "));
  st_.copy_threads = "0";
  list = BuildJavaArguments(in_);
  EXPECT_EQ(std::count_if(list.begin(), list.end(),
                          [](const std::string& e) { return e.find("copythreads") != e.npos; }),
            0);
}

// The default ZEK_CORE_LOCATION is the launcher's absolute directory; joining it below the
// launcher's directory again would hand Java a path that cannot exist.
TEST_F(JavaCommandTest, AbsoluteCoreLocationIsNotJoinedBelowTheLauncher) {
  st_.zek_core_location = "C:\\media\\disk1";
  EXPECT_EQ(BuildJavaArguments(in_)[2], "-Dzorvex.installer.zek_loc=\"C:\\media\\disk1\"");
  st_.zek_core_location = "\\\\server\\share";
  EXPECT_EQ(BuildJavaArguments(in_)[2], "-Dzorvex.installer.zek_loc=\"\\\\server\\share\"");
}

TEST_F(JavaCommandTest, ListGrowsPastFortyEightElements) {
  std::string many;
  for (int i = 0; i < 60; ++i) many += " -Dp" + std::to_string(i) + "=" + std::string(100, 'v');
  Options().jvm_options = many;
  std::vector<std::string> list = BuildJavaArguments(in_);
  EXPECT_EQ(list.size(), 20u + 60u);
  EXPECT_EQ(list[10 + 59], "-Dp59=" + std::string(100, 'v'));
}

TEST_F(JavaCommandTest, SourceLocation) {
  const std::tuple<const char*, const char*> cases[] = {
      {"http://host/stage", "\"http://host/stage\" "},
      {"HTTP://h", "\"HTTP://h\" "},
      {"http://", "\"C:\\media\\disk1\\http://\" "},
      {"ftp://host", "\"C:\\media\\disk1\\ftp://host\" "},
      {"stage\\products.xml", "\"C:\\media\\disk1\\stage\\products.xml\" "},
  };
  for (const auto& [source, expected] : cases) {
    std::vector<std::string> list;
    AddSourceLocation(source, &list, "C:\\media\\disk1");
    EXPECT_EQ(list, (std::vector<std::string>{"-sourceLoc", expected})) << source;
  }
  std::vector<std::string> list;
  AddSourceLocation("", &list, "C:\\x");
  EXPECT_TRUE(list.empty());
}

TEST_F(JavaCommandTest, BootstrapAndStartupOverrides) {
  st_.bootstrap = "TRUE";
  st_.distribution = "T";
  Options().jre_location = "C:\\J";
  Options().startup_loc_given = true;
  Options().startup_loc = "D:\\orig";
  st_.source = "s.xml";
  std::vector<std::string> list = BuildJavaArguments(in_);
  EXPECT_EQ(list[2], "-Dzorvex.installer.zek_loc=\"C:\\T\\ZorInstallTS\\zek\"");
  EXPECT_EQ(list[3], "-Dzorvex.installer.bootstrap=TRUE");
  EXPECT_EQ(list[4], "-Dzorvex.installer.startup_location=\"D:\\orig\"");
  EXPECT_EQ(list[5], "-Dzorvex.installer.jre_loc=\"C:\\J\"");
  auto src = std::find(list.begin(), list.end(), "-sourceLoc");
  ASSERT_NE(src, list.end());
  EXPECT_EQ(*(src + 1), "\"D:\\orig\\s.xml\" ");
}

TEST_F(JavaCommandTest, ForwardsArgumentsButTheLaunchersOwn) {
  in_.arguments = {"setup.exe", "-rstartupLoc",  "X", "-nobootStrap", "-silent", "-rtimestamp",
                   "T",         "-rscratchPath", "S", "-NOBOOTSTRAP"};
  std::vector<std::string> list = BuildJavaArguments(in_);
  EXPECT_EQ(std::vector<std::string>(list.end() - 2, list.end()),
            (std::vector<std::string>{"-silent", "-NOBOOTSTRAP"}));
  in_.arguments = {"setup.exe", "-nobootStrap -silent"};
  list = BuildJavaArguments(in_);
  EXPECT_EQ(list.back(), "-nobootStrap -silent");
}

}  // namespace
}  // namespace zorvex
