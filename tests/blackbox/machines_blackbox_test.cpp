// Black-box tests on machines as administrators keep them: a temporary directory mounted
// so that no program may run from it, read-only media, a container's nameless user, and
// (through the Windows fault layer) policies, virus scanners and files held by scanners.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "blackbox/harness.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

class MachinesTest : public ::testing::TestWithParam<Target> {
 protected:
  MachinesTest() : medium_(GetParam()) {}
  ~MachinesTest() override {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
  }
  bool windows() const { return GetParam().windows; }
  std::string M(const std::string& unix_path) const { return medium_.TargetPath(unix_path); }
  std::string Components() const { return medium_.medium_dir + "/../stage/Components"; }
  // A distribution medium whose staging runs the unzip and then Java from the scratch
  // directory, waited for.
  void DistributionMedium(const std::string& extra_keys = "") {
    medium_.AddRuntimeComponent("17.0.1");
    medium_.AddComponent("zorvex.swd.zek", "1.0", {{"zek/jlib/zorinstaller.jar", "one"}});
    medium_.AddComponent("zorvex.swd.zek.core", "1.0", {{"zek/jlib/zorcore.jar", "core"}});
    medium_.AddComponent("zorvex.swd.zpatch", "1.0", {{"ZPatch/patch.txt", "patch"}});
    medium_.WriteParamFile("DISTRIBUTION=TRUE\nWAIT_FOR_COMPLETION=TRUE\nJRE_LOCATION=" +
                           M(Components() + "/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n" +
                           extra_keys);
  }
  // Mounts a tmpfs with `flags` (and `options`) at `dir` (made first); false where that
  // needs root.
  bool MountTmpfs(const std::string& dir, unsigned long flags, const std::string& options = "") {
    fs::create_directories(dir);
    const std::string data = "mode=0700" + (options.empty() ? "" : "," + options);
    if (::geteuid() != 0 || mount("tmpfs", dir.c_str(), "tmpfs", flags, data.c_str()) != 0) {
      return false;
    }
    mounts_.push_back(dir);
    return true;
  }
  // Makes `dir` a read-only view of itself.
  bool MountReadOnly(const std::string& dir) {
    if (::geteuid() != 0 || mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      return false;
    }
    mounts_.push_back(dir);
    return mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }
  static std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  Medium medium_;
  std::vector<std::string> mounts_;
};

// A scratch directory whose file system lets no program run ends the run before anything
// is staged, saying where and what to do, whichever way it was chosen; only the run's log
// stays, kept in TEMP: from a -rscratchPath on the other file system too, copied across
// (a failed run's log is kept so from any given directory elsewhere).
TEST_P(MachinesTest, NoexecScratchDirectoryIsRefusedBeforeStaging) {
  if (windows()) GTEST_SKIP() << "mount options are POSIX'";
  const std::string noexec = medium_.root + "/noexec";
  if (!MountTmpfs(noexec, MS_NOEXEC)) GTEST_SKIP() << "a tmpfs needs root";
  struct Row {
    std::string name;
    std::vector<std::string> args;
    std::string keys;
    bool temp;  // TEMP is the noexec file system
    std::string advice;
  };
  const std::vector<Row> rows = {
      {"TEMP", {}, "", true, "or set TEMP to one."},
      {"-rscratchPath",
       {"-rscratchPath", M(noexec + "/given")},
       "",
       false,
       "Give -rscratchPath a directory on another file system.\n"},
      {"BOOTSTRAP_LOC",
       {"-BOOTSTRAPONLY", "BOOTSTRAP_LOC=" + M(noexec + "/loc")},
       "",
       false,
       "Set BOOTSTRAP_LOC to a directory on another file system."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DistributionMedium(row.keys);
    std::vector<std::string> args = {"-silent", "-noconsole"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    RunResult r = medium_.Run(args, row.temp ? Env{{"TEMP", M(noexec)}} : Env{});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("is mounted so that no program may run from it (noexec)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(row.advice), std::string::npos) << r.out;
    // Nothing staged; the log kept beside, in TEMP.
    const std::string temp = row.temp ? noexec : medium_.temp_dir;
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(temp)) left.push_back(e.path().filename());
    ASSERT_EQ(left.size(), 1u) << ::testing::PrintToString(left);
    EXPECT_EQ(fs::path(left[0]).extension(), ".log") << left[0];
    if (!row.temp) {
      for (const auto& e : fs::recursive_directory_iterator(noexec)) ADD_FAILURE() << e.path();
    }
    fs::remove_all(temp + "/" + left[0]);
  }
  EXPECT_TRUE(medium_.JavaRuns().empty());
}

// A failed run's log moved into TEMP on another file system is copied there: never onto a
// file that stands at its name (it takes the next one), and a copy that runs out of room
// leaves nothing of itself behind (the log stays with the directory it lies in, said so).
TEST_P(MachinesTest, KeptLogAcrossFileSystemsTakesNothingAndLeavesNothing) {
  if (windows()) GTEST_SKIP() << "POSIX mounts";
  const std::string given = medium_.root + "/given", small = medium_.root + "/small";
  if (!MountTmpfs(given, 0) || !MountTmpfs(small, 0, "size=64k")) GTEST_SKIP() << "needs root";
  medium_.WriteParamFile("");
  const std::string mine = medium_.temp_dir + "/installActionsM.log";
  Spit(mine, "mine");
  const Env failing = {{"ZORVEX_FAKE_JAVA_EXIT", "3"}};
  RunResult r =
      medium_.Run({"-silent", "-noconsole", "-rtimestamp", "M", "-rscratchPath", given}, failing);
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_EQ(Slurp(mine), "mine");
  EXPECT_NE(r.out.find("kept as " + medium_.temp_dir + "/installActionsM_1.log"), std::string::npos)
      << r.out;
  for (const auto& e : fs::directory_iterator(given)) fs::remove_all(e.path());
  // TEMP with room for a few blocks only; a debug run's log holds all of Java's command line.
  Spit(small + "/filler", std::string(60 * 1024, 'f'));
  r = medium_.Run({"-silent", "-noconsole", "-debug", "-rtimestamp", "S", "-rscratchPath", given,
                   "-J-Dpad=" + std::string(20000, 'p')},
                  {{"ZORVEX_FAKE_JAVA_EXIT", "3"}, {"TEMP", small}});
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_EQ(Entries(small), std::vector<std::string>{small + "/filler"}) << r.out;
  EXPECT_TRUE(fs::exists(given + "/installActionsS.log")) << r.out;
}

// A medium on a read-only file system (an ISO image, a DVD, a read-only share) stages and
// runs as any, and nothing is written beside the launcher. Under Wine its files and
// folders are read-only.
TEST_P(MachinesTest, ReadOnlyMediumStagesAndRunsWritingNothingThere) {
  DistributionMedium();
  const std::string stage = medium_.root + "/stage";
  if (!windows() && ::geteuid() != 0) GTEST_SKIP() << "a read-only mount needs root";
  const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const std::string& keys :
       {"DISTRIBUTION=TRUE\nWAIT_FOR_COMPLETION=TRUE\nJRE_LOCATION=" +
            M(Components() + "/zorvex.swd.jre/17.0.1/1/DataFiles") + "\n",
        std::string("BOOTSTRAP=FALSE\n")}) {  // staged, or Java started as the medium names it
    SCOPED_TRACE(keys);
    medium_.WriteParamFile(keys);
    const std::vector<std::string> before = Entries(medium_.medium_dir),
                                   staged_before = Entries(stage);
    for (const std::string& dir : {medium_.medium_dir, stage}) {
      if (!windows()) {
        ASSERT_TRUE(MountReadOnly(dir));
        continue;
      }
      fs::permissions(dir, write, fs::perm_options::remove);
      for (const auto& e : fs::recursive_directory_iterator(dir)) {
        fs::permissions(e.path(), write, fs::perm_options::remove);
      }
    }
    RunResult r = medium_.Run({"-silent", "-noconsole"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Entries(medium_.medium_dir), before);
    EXPECT_EQ(Entries(stage), staged_before);
    EXPECT_TRUE(medium_.TempEntries().empty()) << ::testing::PrintToString(medium_.TempEntries());
    for (const std::string& dir : {medium_.medium_dir, stage}) {
      if (!windows()) {
        umount2(dir.c_str(), MNT_DETACH);
        mounts_.pop_back();
        continue;
      }
      fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add);
      for (const auto& e : fs::recursive_directory_iterator(dir)) {
        fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
      }
    }
  }
  EXPECT_EQ(medium_.JavaRuns().size(), 2u);
}

// In a container: a user id without a name, no HOME, no LANG, no terminal, standard input
// closed. The run stages, starts Java and cleans up as for any user, in English.
TEST_P(MachinesTest, ContainersNamelessUserWithoutHomeOrLocale) {
  if (windows() || ::geteuid() != 0) GTEST_SKIP() << "POSIX user ids, as root";
  constexpr uid_t kNameless = 54321;
  if (getpwuid(kNameless) != nullptr) GTEST_SKIP() << "user id " << kNameless << " has a name";
  DistributionMedium();
  const std::string own = medium_.root + "/own";
  for (const std::string& dir :
       {own + "/temp", own + "/registry/HKEY_LOCAL_MACHINE/SOFTWARE", own + "/java"}) {
    fs::create_directories(dir);
  }
  fs::permissions(medium_.root, fs::perms(0755));
  ASSERT_EQ(::chown(own.c_str(), kNameless, kNameless), 0);
  for (const auto& e : fs::recursive_directory_iterator(own)) {
    ASSERT_EQ(::chown(e.path().c_str(), kNameless, kNameless), 0);
  }
  const std::string record = own + "/java/record.txt";
  const std::string command =
      "cd " + medium_.root + " && setpriv --reuid=" + std::to_string(kNameless) +
      " --regid=" + std::to_string(kNameless) +
      " --clear-groups env -i PATH=/usr/bin:/bin TEMP=" + own + "/temp ZORVEX_REGISTRY=" + own +
      "/registry ZORVEX_FAKE_JAVA_RECORD=" + record + " " + medium_.medium_dir +
      "/setup -silent -noconsole </dev/null >" + own + "/out 2>&1";
  const int status = std::system(command.c_str());
  const std::string out = Slurp(own + "/out");
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;
  std::vector<JavaRecord> runs = ParseJavaRecords(Slurp(record));
  ASSERT_EQ(runs.size(), 1u) << out;
  EXPECT_EQ(runs[0].cwd.rfind(own + "/temp/ZorInstall", 0), 0u) << runs[0].cwd;
  EXPECT_TRUE(fs::is_empty(own + "/temp")) << out;
  EXPECT_NE(out.find("Copying the installer files to"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Targets, MachinesTest, ::testing::ValuesIn(BuiltTargets()), TargetName);

// setup.exe with the fault layer (the windows build's faults/), under Wine, as on machines
// whose policies or scanners stop programs and hold files. Named as the Windows target's
// tests are, so that they run with them.
class HardenedWindowsTest : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    target_ = GetParam();
    if (!fs::exists(target_.build_dir + "/setup.exe")) {
      if (std::getenv("ZORVEX_REQUIRE_WINDOWS") != nullptr) FAIL() << "no faults/setup.exe";
      GTEST_SKIP() << "the windows build's programs with the fault layer are not there";
    }
  }
  Target target_;
};

// A start that a policy (AppLocker and its kin) or a virus scanner refuses is named as
// such, with what to do; the status as before.
TEST_P(HardenedWindowsTest, PolicyAndVirusScannerRefusalsAreNamed) {
  struct Row {
    int error;
    std::string says;
  };
  for (const Row& row : std::vector<Row>{{1260, "A policy of this computer"},
                                         {225, "A security program took the file"},
                                         {226, "A security program took the file"}}) {
    SCOPED_TRACE(row.error);
    Medium medium(target_);
    medium.WriteParamFile("");
    RunResult r = medium.Run(
        {"-silent", "-noconsole"},
        {{"ZORVEX_FAULT_PROGRAM", "setup"}, {"ZORVEX_FAULT_START", std::to_string(row.error)}});
    EXPECT_EQ(r.status, row.error & 0xFF) << r.out << r.err;
    EXPECT_NE(r.out.find("system error " + std::to_string(row.error)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("cannot be started: system error"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(row.says), std::string::npos) << r.out;
    EXPECT_TRUE(medium.JavaRuns().empty());
  }
}

// Deletions that a scanner's hold fails for a few tries are tried again: the waited run's
// directory goes whole. Held for longer, what stays is named, and the run still ends.
TEST_P(HardenedWindowsTest, FilesHeldByAScannerAreWaitedForThenNamed) {
  for (int busy : {3, 1000000}) {
    SCOPED_TRACE(busy);
    Medium medium(target_);
    medium.AddRuntimeComponent("17.0.1");
    medium.AddComponent("zorvex.swd.zek", "1.0", {{"zek/jlib/zorinstaller.jar", "one"}});
    medium.AddComponent("zorvex.swd.zek.core", "1.0", {{"zek/jlib/zorcore.jar", "core"}});
    medium.AddComponent("zorvex.swd.zpatch", "1.0", {{"ZPatch/patch.txt", "patch"}});
    medium.WriteParamFile(
        "DISTRIBUTION=TRUE\nWAIT_FOR_COMPLETION=TRUE\nJRE_LOCATION=" +
        medium.TargetPath(medium.medium_dir +
                          "/../stage/Components/zorvex.swd.jre/17.0.1/1/DataFiles") +
        "\n");
    RunResult r = medium.Run(
        {"-silent", "-noconsole"},
        {{"ZORVEX_FAULT_PROGRAM", "setup"}, {"ZORVEX_FAULT_BUSY", std::to_string(busy)}});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(medium.JavaRuns().size(), 1u);
    if (busy < 10) {
      EXPECT_TRUE(medium.TempEntries().empty()) << ::testing::PrintToString(medium.TempEntries());
      EXPECT_EQ(r.out.find("could not remove"), std::string::npos) << r.out;
    } else {
      EXPECT_FALSE(medium.TempEntries().empty());
      EXPECT_NE(r.out.find("The run could not remove"), std::string::npos) << r.out;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, HardenedWindowsTest,
                         ::testing::Values(Target{"windows", true,
                                                  std::string(ZORVEX_WINDOWS_BUILD) + "/faults",
                                                  std::string(ZORVEX_WINDOWS_BUILD) + "/tests"}),
                         TargetName);

}  // namespace
}  // namespace zorvex::blackbox
