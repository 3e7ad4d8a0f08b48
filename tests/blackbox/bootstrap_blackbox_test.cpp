// Black-box tests of bootstrapping: the built launchers stage a medium's components (jars
// unpacked by the project's unzip, or trees copied) into the scratch directory or
// BOOTSTRAP_LOC, and start Java from the staged runtime.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "blackbox/harness.h"
#include "zip_bytes.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

class BootstrapTest : public ::testing::TestWithParam<Target> {
 protected:
  explicit BootstrapTest(const std::string& medium = "medium") : medium_(GetParam(), medium) {}
  bool windows() const { return GetParam().windows; }
  std::string M(const std::string& unix_path) const { return medium_.TargetPath(unix_path); }
  std::string Java(const std::string& home) const {
    return M(home + "/bin/") + (windows() ? "javaw.exe" : "java");
  }
  // A distribution medium: a runtime, the installer (two versions), its core and patch tool.
  void DistributionMedium(const std::string& extra_keys = "") {
    medium_.AddRuntimeComponent("17.0.1");
    medium_.AddComponent("zorvex.swd.zek", "1.0", {{"zek/jlib/zorinstaller.jar", "one"}});
    medium_.AddComponent("zorvex.swd.zek", "2.0", {{"zek/jlib/zorinstaller.jar", "two"}});
    medium_.AddComponent("zorvex.swd.zek.core", "1.0", {{"zek/jlib/zorcore.jar", "core"}});
    medium_.AddComponent("zorvex.swd.zpatch", "1.0", {{"ZPatch/patch.txt", "patch"}});
    medium_.WriteParamFile("DISTRIBUTION=TRUE\nJRE_LOCATION=" +
                           M(Components() + "/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n" +
                           extra_keys);
  }
  std::string Components() const { return medium_.medium_dir + "/../stage/Components"; }
  // The one directory a run left in the temporary directory.
  std::string Staged() const {
    std::vector<std::string> left = medium_.TempEntries();
    return left.size() == 1 ? medium_.temp_dir + "/" + left[0] : "";
  }
  Medium medium_;
};

TEST_P(BootstrapTest, DistributionLayoutStagesTheComponents) {
  struct Row {
    std::string comps;
    std::string zek;          // the installer jar that was staged
    bool core, patch, extra;  // what else lies in the staged directory
  };
  const std::vector<Row> rows = {
      {"", "two", true, true, false},  // every step, each at its highest version
      {"zorvex.swd.zek,zorvex.swd.jre", "two", false, false, false},
      {"zorvex.swd.zek:1.0,zorvex.swd.jre,zorvex.swd.zek.core", "one", true, false, false},
      {"zorvex.swd.jre,zorvex.swd.zek,extra.comp,:", "two", false, false, true},
  };
  medium_.AddComponent("extra.comp", "3", {{"extra/readme.txt", "extra"}});
  for (const Row& row : rows) {
    SCOPED_TRACE("BOOTSTRAP_COMPS=" + row.comps);
    fs::remove_all(medium_.temp_dir);
    fs::create_directories(medium_.temp_dir);
    std::remove(medium_.record_file.c_str());
    DistributionMedium("BOOTSTRAP_COMPS=" + row.comps + "\n");
    RunResult r = medium_.Run({"-silent", "-noconsole"}, kStillRunning);
    EXPECT_EQ(r.status, 259 & 0xFF) << r.out << r.err;  // not waited for: the files stay
    std::vector<JavaRecord> runs = medium_.WaitForJavaRuns(1, 20000);
    ASSERT_EQ(runs.size(), 1u) << r.out;
    const std::string staged = Staged();
    ASSERT_FALSE(staged.empty());
    EXPECT_EQ(runs[0].args[0], Java(staged + "/jre/17.0.1"));  // the staged runtime
    EXPECT_EQ(Slurp(staged + "/zek/jlib/zorinstaller.jar"), row.zek);
    EXPECT_EQ(fs::exists(staged + "/zek/jlib/zorcore.jar"), row.core);
    EXPECT_EQ(fs::exists(staged + "/ZPatch/patch.txt"), row.patch);
    EXPECT_EQ(fs::exists(staged + "/extra/readme.txt"), row.extra);
    // Each unzip command stands on its own line of the install log.
    int commands = 0;
    for (const auto& e : fs::directory_iterator(staged)) {
      if (e.path().extension() != ".log") continue;
      std::string log = medium_.ReadFile(e.path().string());
      for (size_t at = log.find("Unpacking with: "); at != std::string::npos;
           at = log.find("Unpacking with: ", at + 1)) {
        std::string line = log.substr(at, log.find('\n', at) - at);
        EXPECT_TRUE(line.ends_with("\" ")) << line;  // the command's closing quote and blank
        ++commands;
      }
    }
    EXPECT_GT(commands, 0);
  }
}

TEST_P(BootstrapTest, PlainLayoutCopiesTheTrees) {
  const std::string zek = medium_.root + "/zekdir";
  fs::create_directories(zek + "/jlib");
  std::ofstream(zek + "/jlib/zorinstaller.jar") << "plain";
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nZEK_LOCATION=" + M(zek) +
                         "\nZEK_CORE_LOCATION=" + M(zek) + "\nZPATCH_LOCATION=" + M(zek) + "\n");
  RunResult r = medium_.Run({"-silent", "-noconsole"}, kStillRunning);
  EXPECT_EQ(r.status, 259 & 0xFF) << r.out << r.err;
  std::vector<JavaRecord> runs = medium_.WaitForJavaRuns(1, 20000);
  ASSERT_EQ(runs.size(), 1u);
  const std::string staged = Staged();
  EXPECT_EQ(runs[0].args[0], Java(staged + "/jre"));
  EXPECT_EQ(Slurp(staged + "/zek/jlib/zorinstaller.jar"), "plain");
  EXPECT_EQ(Slurp(staged + "/ZPatch/jlib/zorinstaller.jar"), "plain");
}

// -BOOTSTRAPONLY stages into BOOTSTRAP_LOC (made when missing), starts no Java and keeps
// what it staged; -noBootstrap unpacks nothing, so a distribution runtime is missing.
TEST_P(BootstrapTest, BootstrapOnlyAndNoBootstrap) {
  DistributionMedium("JRE_SCRATCH_LOC=jre\n");
  const std::string target = medium_.root + "/bl/deep";
  RunResult r = medium_.Run({"-bootstrapOnly", "-noconsole", "BOOTSTRAP_LOC=" + M(target)});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("BootStrap To " + M(target) + " Completed"), std::string::npos) << r.out;
  EXPECT_EQ(Slurp(target + "/zek/jlib/zorinstaller.jar"), "two");
  EXPECT_TRUE(fs::exists(target + "/jre/17.0.1"));
  EXPECT_TRUE(medium_.TempEntries().empty());
  EXPECT_TRUE(medium_.JavaRuns().empty());
  r = medium_.Run({"-silent", "-noconsole", "-noBootstrap"});
  EXPECT_EQ(r.status, 255) << r.out;
  EXPECT_NE(r.out.find("Java runtime named by JRE_SCRATCH_LOC is missing"), std::string::npos)
      << r.out;
  // Without JRE_SCRATCH_LOC, what is missing is said as such, not blamed on it.
  DistributionMedium();
  r = medium_.Run({"-silent", "-noconsole", "-noBootstrap"});
  EXPECT_EQ(r.status, 255) << r.out;
  EXPECT_NE(r.out.find("No Java runtime was unpacked into "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("JRE_SCRATCH_LOC"), std::string::npos) << r.out;
}

TEST_P(BootstrapTest, FreeSpaceAndSizes) {
  DistributionMedium("WAIT_FOR_COMPLETION=TRUE\n");
  for (const char* size : {"0", "2047"}) {
    SCOPED_TRACE(size);
    medium_.WriteParamFile(
        "DISTRIBUTION=TRUE\nWAIT_FOR_COMPLETION=TRUE\nBOOTSTRAP_SIZE=" + std::string(size) +
        "\nJRE_LOCATION=" + M(Components() + "/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n");
    RunResult r = medium_.Run({"-silent", "-noconsole"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
  }
}

// On a disk too small for what staging needs, nothing is staged and nothing is left: not
// when BOOTSTRAP_SIZE says so, and not when the jars declare more than it says.
TEST_P(BootstrapTest, SmallDiskStagesNothing) {
  const std::string small = medium_.root + "/small";
  fs::create_directories(small);
  if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4m") != 0) {
    GTEST_SKIP() << "a small file system needs root";
  }
  DistributionMedium();
  fs::create_directories(medium_.root + "/extlib");
  std::ofstream(medium_.root + "/extlib/lib.so") << "library";
  testing::ZipBytes bomb;  // 41 bytes of data declaring 8 MiB
  testing::ZipBytes::Options declared;
  declared.declared_size = 2u << 20;
  for (int i = 0; i < 4; ++i) bomb.Add("zeros" + std::to_string(i), "0", declared);
  const std::string jars = Components() + "/bomb/1.0/1/DataFiles";
  fs::create_directories(jars);
  std::ofstream(jars + "/bomb.jar", std::ios::binary) << bomb.Finish();
  const std::string base =
      "DISTRIBUTION=TRUE\nWAIT_FOR_COMPLETION=TRUE\nEXT_LIB=" + M(medium_.root + "/extlib") +
      "\nJRE_LOCATION=" + M(Components() + "/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n";
  for (const char* keys : {"", "BOOTSTRAP_SIZE=1\nBOOTSTRAP_COMPS=bomb,zorvex.swd.jre\n"}) {
    SCOPED_TRACE(keys);
    medium_.WriteParamFile(base + keys);
    RunResult r = medium_.Run({"-silent", "-noconsole"}, {{"TEMP", M(small)}});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("There is not enough free space in"), std::string::npos) << r.out;
    for (const auto& entry : fs::directory_iterator(small)) {
      EXPECT_NE(entry.path().filename().string().rfind("ZorInstall", 0), 0u) << entry.path();
    }
  }
  EXPECT_TRUE(medium_.JavaRuns().empty());
  umount(small.c_str());
}

// Names that Windows reads as other names ("report.txt." is report.txt) never reach the
// user's files in a given scratch directory, and nothing the run made stays behind,
// however long its path. unzip.exe renames such entries with a warning, which ends the
// staging of that damaged medium; elsewhere they are names like any other.
TEST_P(BootstrapTest, AliasingAndLongNamesLeaveTheUsersFilesAndNoTrace) {
  DistributionMedium();
  const std::string deep = std::string(90, 'd') + "/" + std::string(90, 'e') + "/" +
                           std::string(90, 'f') + "/x.txt";  // beyond 260 characters
  medium_.AddComponent(
      "aliases", "1.0",
      {{"docs./x.txt", "run"}, {"notes.txt ", "run"}, {"report.txt.", "run"}, {deep, "deep"}});
  medium_.WriteParamFile(
      "DISTRIBUTION=TRUE\nWAIT_FOR_COMPLETION=TRUE\nBOOTSTRAP_COMPS=aliases,zorvex.swd.jre,"
      "zorvex.swd.zek,zorvex.swd.zek.core,zorvex.swd.zpatch\nJRE_LOCATION=" +
      M(Components() + "/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n");
  const std::string given = medium_.root + "/given";
  for (const char* file : {"docs/important.txt", "notes.txt", "report.txt"}) {
    fs::create_directories(fs::path(given + "/" + file).parent_path());
    std::ofstream(given + "/" + file) << "mine";
  }
  const int status = windows() ? 255 : 0;
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(given)});
  EXPECT_EQ(r.status, status) << r.out << r.err;
  std::set<std::string> left;
  for (const auto& e : fs::recursive_directory_iterator(given)) {
    left.insert(fs::relative(e.path(), given).string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"docs", "docs/important.txt", "notes.txt", "report.txt"}));
  for (const char* file : {"docs/important.txt", "notes.txt", "report.txt"}) {
    EXPECT_EQ(Slurp(given + "/" + file), "mine") << file;
  }
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, status) << r.out << r.err;
  for (const std::string& entry : medium_.TempEntries()) {
    EXPECT_NE(entry.rfind("ZorInstall", 0), 0u) << entry;
  }
}

// In a folder the user gives, staging lands on nothing the folder held, whatever name
// reaches it: the same name, a directory of the user's, another letter case beyond ASCII
// and a short name (both Windows). The run ends before it writes anything and says which
// entry it would have met; a name that meets nothing stages and goes after the wait.
TEST_P(BootstrapTest, StagingNeverLandsOnTheUsersEntries) {
  DistributionMedium();
  const std::string given = medium_.root + "/given";
  const std::set<std::string> users = {"notes.txt", "\xC3\x84rger.txt", "report-long-name.txt",
                                       "docs/mine.txt"};
  for (const std::string& file : users) {
    fs::create_directories(fs::path(given + "/" + file).parent_path());
    std::ofstream(given + "/" + file) << "mine";
  }
  struct Row {
    std::string entry;
    bool native_meets, windows_meets;
    std::string meets;  // the user's entry the message names (ASCII rows)
  };
  std::vector<Row> rows = {{"notes.txt", true, true, "notes.txt"},
                           {"docs/readme.txt", true, true, "docs"},
                           {"\xC3\xA4rger.txt", false, true, ""}};
  if (windows()) {
    Target helpers = GetParam();
    helpers.build_dir = helpers.tests_dir;
    RunResult short_name =
        RunBuilt(helpers, "shortname", {M(given + "/report-long-name.txt")}, medium_.root);
    ASSERT_EQ(short_name.status, 0);
    rows.push_back({short_name.out, false, true, "report-long-name.txt"});
  }
  int version = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.entry);
    const std::string v = std::to_string(++version) + ".0";
    medium_.AddComponent("clash", v, {{row.entry, "run"}});
    medium_.WriteParamFile(
        "DISTRIBUTION=TRUE\nWAIT_FOR_COMPLETION=TRUE\nBOOTSTRAP_COMPS=clash:" + v +
        ",zorvex.swd.jre,zorvex.swd.zek,zorvex.swd.zek.core,zorvex.swd.zpatch\nJRE_LOCATION=" +
        M(Components() + "/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n");
    RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(given)});
    const bool meets = windows() ? row.windows_meets : row.native_meets;
    EXPECT_EQ(r.status, meets ? 255 : 0) << r.out << r.err;
    if (meets && !row.meets.empty()) {
      EXPECT_NE(r.out.find("it would land on " + M(given + "/" + row.meets) + ", which was there"),
                std::string::npos)
          << r.out;
    }
    std::set<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(given)) {
      if (!e.is_directory()) left.insert(fs::relative(e.path(), given).string());
    }
    EXPECT_EQ(left, users);
    for (const std::string& file : users) EXPECT_EQ(Slurp(given + "/" + file), "mine") << file;
  }
}

// A deep TEMP (Windows paths beyond 260 characters): the staged runtime starts, its status
// comes back, and a waited run leaves nothing behind in TEMP but the kept log.
TEST_P(BootstrapTest, DeepTempDirectory) {
  DistributionMedium("WAIT_FOR_COMPLETION=TRUE\n");
  for (size_t length : {200u, 230u}) {
    SCOPED_TRACE(length);
    std::string temp = medium_.root + "/t";
    while (M(temp).size() < length) temp += "/" + std::string(40, 'd');
    fs::create_directories(temp);
    RunResult r =
        medium_.Run({"-silent", "-noconsole"}, {{"TEMP", M(temp)}, {"ZORVEX_FAKE_JAVA_EXIT", "1"}});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(medium_.JavaRuns().size(), 1u);
    fs::remove(medium_.record_file);
    for (const auto& e : fs::directory_iterator(temp)) {
      EXPECT_TRUE(e.is_regular_file()) << e.path();  // the log kept, no ZorInstall tree
    }
  }
}

// A runtime whose files are read-only (a jlink image's legal notices and class-data
// archive, packed with their modes) or open to all arrives as its user's alone: 0600, 0700
// where the owner may run it, directories 0700; a waited run removes it; a read-only file
// of the user's in a given directory stays. A given directory that does not exist yet is
// staged into (its free space is its parent's).
TEST_P(BootstrapTest, ReadOnlyFilesOfTheRunGoAndTheUsersStay) {
  DistributionMedium();
  testing::ZipBytes jar;
  testing::ZipBytes::Options file, run, dir, open, open_dir;
  file.external = 0100444u << 16;
  run.external = 0100555u << 16;
  dir.external = 040555u << 16;
  open.external = 0100777u << 16;
  open_dir.external = 040777u << 16;
  jar.Add("legal/", "", dir);
  jar.Add("legal/LICENSE", "notice", file);
  jar.Add("lib/classes.jsa", "archive", file);
  jar.Add("lib/tool", "#!/bin/sh\n", run);
  jar.Add("open/", "", open_dir);
  jar.Add("open/all", "anyone", open);
  const std::string jars = Components() + "/readonly/1.0/1/DataFiles";
  fs::create_directories(jars);
  std::ofstream(jars + "/readonly.jar", std::ios::binary) << jar.Finish();
  const std::string keys =
      "DISTRIBUTION=TRUE\nBOOTSTRAP_COMPS=readonly,zorvex.swd.jre,zorvex.swd.zek,"
      "zorvex.swd.zek.core,zorvex.swd.zpatch\nJRE_LOCATION=" +
      M(Components() + "/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n";
  medium_.WriteParamFile(keys);  // not waited: the staged tree stays to be looked at
  RunResult r = medium_.Run({"-silent", "-noconsole"}, kStillRunning);
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  for (const auto& [rel, mode] : std::map<std::string, unsigned>{{"legal", 0700},
                                                                 {"legal/LICENSE", 0600},
                                                                 {"lib/classes.jsa", 0600},
                                                                 {"lib/tool", 0700},
                                                                 {"open", 0700},
                                                                 {"open/all", 0700}}) {
    struct stat st {};
    ASSERT_EQ(stat((Staged() + "/" + rel).c_str(), &st), 0) << Staged() << "/" << rel;
    if (!windows()) {
      EXPECT_EQ(st.st_mode & 0777, mode) << rel;
    }
  }
  fs::remove_all(Staged());
  medium_.WriteParamFile(keys + "WAIT_FOR_COMPLETION=TRUE\n");
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(medium_.TempEntries().empty());
  const std::string given = medium_.root + "/given";
  fs::create_directories(given);
  std::ofstream(given + "/mine.txt") << "mine";
  fs::permissions(given + "/mine.txt", fs::perms::owner_read | fs::perms::group_read);
  r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(given)});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(given)) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"mine.txt"});
  EXPECT_EQ(Slurp(given + "/mine.txt"), "mine");
  r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(medium_.root + "/fresh/new")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(fs::exists(medium_.root + "/fresh/new"));
  // One below the launcher's directory is the medium's: refused, nothing made there.
  r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(medium_.medium_dir + "/made/new")});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_FALSE(fs::exists(medium_.medium_dir + "/made"));
  EXPECT_TRUE(fs::exists(medium_.medium_dir + "/zorparam.ini"));
  EXPECT_EQ(medium_.JavaRuns().size(), 4u);
}

// A runtime given by the user: asked for on standard input, or named with -jreLoc, and
// checked against USEJREONLY / USEJDKONLY.
TEST_P(BootstrapTest, RuntimeGivenByTheUser) {
  fs::create_directories(medium_.jre_dir + "/lib");
  std::ofstream(medium_.jre_dir + "/lib/rt.jar") << "";
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\nJRE_LOCATION=\n");
  if (!windows()) {
    RunResult r = medium_.Run({}, {}, "nowhere\n" + medium_.jre_dir + "\n");
    EXPECT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(medium_.JavaRuns().size(), 1u);
    r = medium_.Run({}, {}, "nowhere\n");  // input ends before an answer
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("No Java runtime is known"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(medium_.JavaRuns().size(), 1u);
  }
  struct Row {
    std::string keys;
    int status;
    const char* shown;
  };
  const std::vector<Row> rows = {
      {"USEJDKONLY=TRUE\n", 255, "this installer needs a Java development kit"},
      {"USEJREONLY=TRUE\n", 0, ""},
      {"DISABLE_JRE_PROMPT=TRUE\nUSEJREONLY=TRUE\n", 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keys);
    medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\nJRE_LOCATION=\n" + row.keys);
    RunResult r = medium_.Run({"-silent", "-noconsole", "-jreLoc", M(medium_.jre_dir)});
    EXPECT_EQ(r.status, row.status) << r.out;
    EXPECT_NE(r.out.find(row.shown), std::string::npos) << r.out;
  }
  // No runtime known and no question allowed: the run says so and ends with -1, as without
  // a console to ask on: nothing was installed.
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nJRE_LOCATION=\nDISABLE_JRE_PROMPT=TRUE\n");
  size_t before = medium_.JavaRuns().size();
  RunResult r = medium_.Run({"-silent"});
  EXPECT_EQ(r.status, 255);
  if (!windows()) {
    EXPECT_NE(r.out.find("No Java runtime is known"), std::string::npos) << r.out;
  }
  EXPECT_EQ(medium_.JavaRuns().size(), before);
}

// A medium in a directory with blanks (C:\My Product\Disk1): the unzip command line holds.
class BlankMediumTest : public BootstrapTest {
 protected:
  BlankMediumTest() : BootstrapTest("My Product/Disk1") {}
};

TEST_P(BlankMediumTest, StagesFromADirectoryWithBlanks) {
  DistributionMedium("WAIT_FOR_COMPLETION=TRUE\n");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(medium_.JavaRuns().size(), 1u) << r.out;
  EXPECT_NE(medium_.JavaRuns()[0].args[0].find("jre"), std::string::npos);
  EXPECT_TRUE(medium_.TempEntries().empty());  // waited for: removed
}

// A medium under a directory whose name holds double quotes: each unzip argument stays whole.
class QuotedMediumTest : public BootstrapTest {
 protected:
  QuotedMediumTest() : BootstrapTest("My \"Product\"/Disk1") {}
};

TEST_P(QuotedMediumTest, StagesFromADirectoryWithQuotes) {
  if (windows()) GTEST_SKIP() << "Windows names cannot hold a double quote";
  DistributionMedium("WAIT_FOR_COMPLETION=TRUE\n");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(medium_.JavaRuns().size(), 1u) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Targets, BootstrapTest, ::testing::ValuesIn(BuiltTargets()), TargetName);
INSTANTIATE_TEST_SUITE_P(Targets, BlankMediumTest, ::testing::ValuesIn(BuiltTargets()), TargetName);
INSTANTIATE_TEST_SUITE_P(Targets, QuotedMediumTest, ::testing::ValuesIn(BuiltTargets()),
                         TargetName);

}  // namespace
}  // namespace zorvex::blackbox
