// Black-box tests of what a hostile medium, a careless script or another local user may
// try against the launcher: links in its scratch directory, directories named for
// removal, links planted where it writes, quotes and backslashes in what it hands Java,
// files that are no files, relative paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "blackbox/harness.h"
#include "zip_bytes.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HardeningTest : public ::testing::TestWithParam<Target> {
 protected:
  HardeningTest() : medium_(GetParam()) {}
  bool windows() const { return GetParam().windows; }
  std::string M(const std::string& unix_path) const { return medium_.TargetPath(unix_path); }
  static std::string After(const JavaRecord& run, const std::string& option) {
    auto it = std::find(run.args.begin(), run.args.end(), option);
    return it == run.args.end() || it + 1 == run.args.end() ? "" : *(it + 1);
  }
  Medium medium_;
};

// A Java installer (or an archive it unpacks) leaves links in the scratch directory: one
// to a directory outside, one back up the tree, one to itself. Removing the scratch
// directory removes the links and leaves what they point at.
TEST_P(HardeningTest, ScratchCleanupNeverFollowsLinks) {
  const std::string outside = medium_.root + "/outside";
  fs::create_directories(outside + "/data");
  std::ofstream(outside + "/data/precious.txt") << "keep";
  medium_.WriteParamFile("");
  RunResult r = medium_.Run({"-silent", "-noconsole"}, {{"ZORVEX_FAKE_JAVA_PLANT", M(outside)}});
  ASSERT_EQ(medium_.JavaRuns().size(), 1u);
  if (medium_.JavaRuns()[0].notes["plant"] != "done") GTEST_SKIP() << "no links can be made";
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Slurp(outside + "/data/precious.txt"), "keep");
  EXPECT_TRUE(medium_.TempEntries().empty());
}

// -rscratchPath naming a directory that exists: the run takes away only what it put there.
// One on the medium, below it or holding it is refused before anything is written: staging
// would land among the medium's files (the launcher's directory itself, ".", a directory
// below it, its parent).
TEST_P(HardeningTest, GivenScratchDirectoryKeepsWhatWasThere) {
  medium_.WriteParamFile("");
  const std::string mine = medium_.root + "/mine";
  fs::create_directories(mine + "/sub");
  std::ofstream(mine + "/file.txt") << "mine";
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(mine)});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Slurp(mine + "/file.txt"), "mine");
  EXPECT_TRUE(fs::is_directory(mine + "/sub"));
  // The run's own install log went from the user's directory again.
  EXPECT_EQ(std::distance(fs::directory_iterator(mine), fs::directory_iterator()), 2);
  const size_t entries = std::distance(fs::directory_iterator(medium_.medium_dir), {});
  for (const std::string& given :
       {std::string("."), M(medium_.medium_dir), M(medium_.medium_dir + "/sub"), M(medium_.root)}) {
    SCOPED_TRACE(given);
    r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", given});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(
        r.out.find("lies on the installation medium or holds it (" + M(medium_.medium_dir) + ")"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(std::distance(fs::directory_iterator(medium_.medium_dir), {}), entries);
  }
  EXPECT_EQ(medium_.JavaRuns().size(), 1u);
  // Said in the user's language, and kept in the log's.
  r = medium_.Run(
      {"-silent", "-noconsole", "-rtimestamp", "G", "-rscratchPath", M(medium_.medium_dir)},
      {{"LANG", "de_DE.UTF-8"}});
  EXPECT_NE(r.out.find("liegt auf dem Installationsmedium oder enthält es"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("lies on the installation medium"), std::string::npos) << r.out;
  EXPECT_NE(medium_.ReadFile(medium_.temp_dir + "/installActionsG.log")
                .find("lies on the installation medium or holds it"),
            std::string::npos);
  // A file is no directory to stage into, whoever owns it.
  r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(mine + "/file.txt")});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("file.txt is not a directory: the installer stages only into a directory."),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Slurp(mine + "/file.txt"), "mine");
}

// Runs a shell command as another local user (nobody): the one who attacks a root run.
int AsNobody(const std::string& command) {
  return std::system(
      ("setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '" + command + "'").c_str());
}

// A directory given to stage into (-rscratchPath, or BOOTSTRAP_LOC of -BOOTSTRAPONLY) that
// another user could change under a root run (theirs, a link of theirs, one others may
// write by mode or by access list, one below a directory of theirs) is refused before
// anything is written: Java would run what they swapped in. A private one is used, and
// after a waited run holds what it held; parents the run made for a new one go again.
TEST_P(HardeningTest, GivenScratchDirectoryMustBeTheUsersAlone) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\n");
  if (windows()) {  // Wine gives a directory of mode 0777 an access list that lets Everyone in
    const std::string open = medium_.root + "/open";
    fs::create_directories(open);
    fs::permissions(open, fs::perms(0777));
    RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(open)});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("-rscratchPath " + M(open) + " lets "), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_empty(open));
    EXPECT_TRUE(medium_.JavaRuns().empty());
    return;
  }
  if (::geteuid() != 0) GTEST_SKIP() << "POSIX owners, as root";
  fs::permissions(medium_.root, fs::perms(0711));
  const std::string shared = medium_.root + "/shared", mine = medium_.root + "/mine";
  const std::string open = medium_.root + "/open", below = shared + "/theirs2/mine";
  const std::string group = medium_.root + "/group", listed = medium_.root + "/listed";
  fs::create_directories(shared);
  fs::permissions(shared, fs::perms(01777));
  fs::create_directories(mine);
  fs::permissions(mine, fs::perms(0700));
  std::ofstream(mine + "/precious.txt") << "keep";
  for (const auto& [dir, mode] : {std::pair{open, 0777}, {group, 0770}, {listed, 0750}}) {
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms(mode));
  }
  // An access list that lets another user write shows in the group bits as its mask; a
  // default list, which what is made in the directory inherits, shows nowhere in its mode.
  ASSERT_EQ(std::system(("setfacl -m u:65534:rwx " + listed).c_str()), 0);
  const std::string inherits = medium_.root + "/inherits";
  fs::create_directories(inherits);
  fs::permissions(inherits, fs::perms(0755));
  ASSERT_EQ(std::system(("setfacl -d -m u:65534:rwx " + inherits).c_str()), 0);
  ASSERT_EQ(AsNobody("mkdir " + shared + "/theirs " + shared + "/theirs2 && ln -s " + mine + " " +
                     shared + "/link"),
            0);
  fs::create_directories(below);
  const std::vector<std::pair<std::string, std::string>> refused = {
      {shared + "/theirs", "belongs to user id 65534"},
      {shared + "/link", "is a symbolic link (of user id 65534)"},
      {open, "may be written by other users (mode 0777)"},
      {group, "may be written by other users (mode 0770)"},
      {listed, "may be written by other users (mode 0770)"},
      {inherits, "has an access list entry that what is made in it inherits, for user id 65534"},
      // Missing, below a directory of theirs: nothing is made there, parents neither.
      {shared + "/theirs/new/dir",
       "would be made below " + shared + "/theirs belongs to user id 65534"},
      {below, "its parent directory " + shared + "/theirs2 belongs to user id 65534"}};
  for (const bool bootstrap_only : {false, true}) {
    for (const auto& [given, why] : refused) {
      SCOPED_TRACE(given + (bootstrap_only ? " as BOOTSTRAP_LOC" : ""));
      RunResult r =
          bootstrap_only
              ? medium_.Run({"-silent", "-noconsole", "-BOOTSTRAPONLY", "BOOTSTRAP_LOC=" + given})
              : medium_.Run({"-silent", "-noconsole", "-rscratchPath", given});
      EXPECT_EQ(r.status, 255) << r.out << r.err;
      const std::string option = bootstrap_only ? "BOOTSTRAP_LOC " : "-rscratchPath ";
      EXPECT_NE(r.out.find(option + given + " " + why), std::string::npos) << r.out;
      if (!fs::is_symlink(given) && fs::exists(given)) {
        EXPECT_TRUE(fs::is_empty(given));
      }
    }
  }
  EXPECT_TRUE(fs::is_empty(shared + "/theirs"));
  EXPECT_EQ(std::distance(fs::directory_iterator(mine), fs::directory_iterator()), 1);
  EXPECT_TRUE(medium_.JavaRuns().empty());
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", mine});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(medium_.JavaRuns().size(), 1u);
  EXPECT_EQ(Slurp(mine + "/precious.txt"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(mine), fs::directory_iterator()), 1);
  r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", medium_.root + "/new1/new2"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(fs::exists(medium_.root + "/new1"));
}

// Whatever modes a medium packs (a runtime open to all, 0777) and whatever the place
// would pass on (the group and set-group-id bit of a BOOTSTRAP_LOC, a default access list
// of TEMP), everything staged is the user's alone: another user cannot change the Java
// that a root run starts.
TEST_P(HardeningTest, StagedEntriesAreTheUsersAlone) {
  if (windows() || ::geteuid() != 0) GTEST_SKIP() << "POSIX modes and access lists, as root";
  fs::permissions(medium_.root, fs::perms(0755));
  const std::string jars =
      medium_.medium_dir + "/../stage/Components/zorvex.swd.jre/17.0.1/1/DataFiles";
  testing::ZipBytes jar;
  testing::ZipBytes::Options dir, program;
  dir.external = 040777u << 16;
  program.external = 0100777u << 16;
  for (const char* d : {"jre/", "jre/17/", "jre/17/bin/"}) jar.Add(d, "", dir);
  jar.Add("jre/17/bin/java", Slurp(GetParam().tests_dir + "/fake_java"), program);
  Spit(jars + "/zorvex.swd.jre.jar", jar.Finish());
  medium_.WriteParamFile("DISTRIBUTION=TRUE\nBOOTSTRAP_COMPS=zorvex.swd.jre\nJRE_LOCATION=" + jars +
                         "\n");
  const std::string given = medium_.root + "/given", setgid = medium_.root + "/setgid";
  const std::string acl_temp = medium_.root + "/acltemp";
  for (const std::string& d : {given, setgid, acl_temp}) fs::create_directories(d);
  ASSERT_EQ(::chown(setgid.c_str(), 0, 65534), 0);
  fs::permissions(setgid, fs::perms(02755));
  ASSERT_EQ(std::system(("setfacl -d -m u:65534:rwx " + acl_temp).c_str()), 0);
  struct Row {
    std::vector<std::string> args;
    Env env;
    std::string staged;  // where the runtime lands
  };
  const std::vector<Row> rows = {
      {{"-rscratchPath", given}, {}, given},
      {{"-BOOTSTRAPONLY", "BOOTSTRAP_LOC=" + setgid}, {}, setgid},
      {{"-rtimestamp", "A"}, {{"TEMP", acl_temp}}, acl_temp + "/ZorInstallA"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.staged);
    std::vector<std::string> args = {"-silent", "-noconsole"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    RunResult r = medium_.Run(args, row.env);  // not waited: the staged tree stays
    ASSERT_TRUE(fs::exists(row.staged + "/jre/17/bin/java")) << r.out << r.err;
    for (const auto& e : fs::recursive_directory_iterator(row.staged)) {
      struct stat st {};
      ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07077, 0u) << e.path();
      EXPECT_LT(lgetxattr(e.path().c_str(), "system.posix_acl_access", nullptr, 0), 0) << e.path();
      EXPECT_LT(lgetxattr(e.path().c_str(), "system.posix_acl_default", nullptr, 0), 0) << e.path();
    }
    EXPECT_NE(AsNobody("{ echo planted >> " + row.staged + "/jre/17/bin/java; } 2>/dev/null"), 0);
  }
}

// The temporary directory as another user could steer a root run through it is judged as
// -rscratchPath is, as named and before anything is written there: through a link of
// theirs (before a ".." too), a link of root's in a directory their group may write, a
// directory or link of theirs: refused. A link of root's in a sticky directory is taken as
// resolved once. Every name of the run's second taken in a shared TEMP costs a random
// name, not the run.
TEST_P(HardeningTest, TempDirectoryOfAnotherUser) {
  if (windows() || ::geteuid() != 0) GTEST_SKIP() << "POSIX owners, as root";
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\n");
  fs::permissions(medium_.root, fs::perms(0711));
  const std::string pub = medium_.root + "/pub", real = medium_.root + "/real";
  const std::string grp = medium_.root + "/grp";
  fs::create_directories(pub);
  fs::permissions(pub, fs::perms(01777));
  fs::create_directories(grp);
  ASSERT_EQ(::chown(grp.c_str(), 0, 65534), 0);
  fs::permissions(grp, fs::perms(0775));
  fs::create_directories(real + "/sub");
  fs::create_directories(real + "/tt");
  fs::create_directory_symlink(real + "/tt", grp + "/rootlink");
  fs::create_directory_symlink(real + "/tt", pub + "/rootlink");
  ASSERT_EQ(AsNobody("ln -s " + real + "/sub " + pub + "/lnk && ln -s " + real + "/tt " + pub +
                     "/theirlink && mkdir " + pub + "/theirs"),
            0);
  const std::vector<std::pair<std::string, std::string>> refused = {
      {pub + "/lnk/../tt", "the link " + pub + "/lnk on its way belongs to user id 65534"},
      {grp + "/rootlink", "its parent directory " + grp + " may be written by other users"},
      {pub + "/theirlink", "is a symbolic link of user id 65534"},
      {pub + "/theirs", "belongs to user id 65534"}};
  for (const auto& [temp, why] : refused) {
    SCOPED_TRACE(temp);
    RunResult r = medium_.Run({"-silent", "-noconsole"}, {{"TEMP", temp}});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("The temporary directory cannot hold the installer's files: " + temp),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(why), std::string::npos) << r.out;
  }
  EXPECT_TRUE(fs::is_empty(real + "/tt"));
  EXPECT_TRUE(fs::is_empty(pub + "/theirs"));
  EXPECT_TRUE(medium_.JavaRuns().empty());
  RunResult r =
      medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"}, {{"TEMP", pub + "/rootlink"}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(medium_.JavaRuns().size(), 1u);
  EXPECT_EQ(After(medium_.JavaRuns()[0], "-scratchPath"), real + "/tt/ZorInstallT");
  ASSERT_EQ(AsNobody("cd " + pub +
                     " && mkdir ZorInstallS && for i in $(seq 1 1023); do mkdir "
                     "ZorInstallS_$i; done"),
            0);
  r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "S"}, {{"TEMP", pub}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(medium_.JavaRuns().size(), 2u);
  EXPECT_EQ(After(medium_.JavaRuns()[1], "-scratchPath").size(),
            (pub + "/ZorInstallS_").size() + 8);
}

// Logs go only where no other user can reach them: an inventory of theirs, a logs
// directory of theirs or open to all, one behind their link is neither made nor written
// (the log goes to the run's own directory instead); a failed run's log kept in TEMP takes
// the next name where a link stands at its name, even one leading nowhere, and is the
// user's alone to read.
TEST_P(HardeningTest, LogsGoOnlyWhereNobodyElseCanReachThem) {
  if (windows() || ::geteuid() != 0) GTEST_SKIP() << "POSIX owners and modes, as root";
  fs::permissions(medium_.root, fs::perms(0711));
  medium_.WriteParamFile("");
  const std::string theirs = medium_.root + "/theirs", open = medium_.root + "/open";
  const std::string owned = medium_.root + "/owned", pub = medium_.root + "/pub";
  fs::create_directories(owned);
  fs::create_directories(open + "/logs");
  fs::permissions(open + "/logs", fs::perms(0777));
  fs::create_directories(pub);
  fs::permissions(pub, fs::perms(01777));
  for (const std::string& dir : {theirs, owned + "/logs"}) {
    fs::create_directories(dir);
    ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(AsNobody("ln -s " + medium_.root + "/behind " + pub + "/link"), 0);
  fs::create_directories(medium_.root + "/behind/inv");
  for (const std::string& inventory : {theirs, owned, open, pub + "/link/inv"}) {
    SCOPED_TRACE(inventory);
    medium_.SetRegistryValue("SOFTWARE\\ZORVEX", "inst_loc", inventory);
    RunResult r = medium_.Run({"-silent", "-noconsole"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("The logs are not written to " + inventory + "/logs"), std::string::npos)
        << r.out;
  }
  EXPECT_FALSE(fs::exists(theirs + "/logs"));
  EXPECT_TRUE(fs::is_empty(owned + "/logs"));
  EXPECT_TRUE(fs::is_empty(open + "/logs"));
  EXPECT_TRUE(fs::is_empty(medium_.root + "/behind/inv"));
  medium_.DeleteRegistryKey("SOFTWARE\\ZORVEX");
  const std::string log = medium_.temp_dir + "/installActionsK";
  fs::create_symlink(medium_.root + "/nowhere", log + ".log");
  fs::create_symlink(medium_.root + "/nowhere", log + "_1.log");
  RunResult r =
      medium_.Run({"-silent", "-noconsole", "-rtimestamp", "K", "-debug", "ADMIN_PASSWORD=secret"},
                  {{"ZORVEX_FAKE_JAVA_EXIT", "3"}});
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_NE(r.out.find("its install log is kept as " + log + "_2.log"), std::string::npos) << r.out;
  struct stat st {};
  ASSERT_EQ(::stat((log + "_2.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(fs::exists(medium_.root + "/nowhere"));
  EXPECT_EQ(medium_.TempEntries().size(), 3u);  // the two links and the log: no ZorInstall
}

// While Java runs, the user renames the given directory and puts a link to another one at
// its name, and saves a file into it; a file of theirs bears the run's log name. The end of
// the run removes only what it made, through the directory it held: the other directory,
// the new file and the user's namesake of the log stay as they were.
TEST_P(HardeningTest, GivenDirectorySwappedAndUsedDuringTheRun) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\n");
  const std::string given = medium_.root + "/given", other = medium_.root + "/other";
  fs::create_directories(given);
  fs::create_directories(other);
  if (!windows()) fs::permissions(given, fs::perms(0700));
  Spit(other + "/precious.txt", "keep");
  Spit(given + "/installActionsT.log", "mine");
  for (const bool swap : {false, true}) {
    SCOPED_TRACE(swap ? "swapped" : "saved into");
    fs::remove(medium_.record_file);
    std::thread user([&] {
      if (medium_.WaitForJavaRuns(1, 20000).empty()) return;
      Spit(given + "/saved.txt", "new");
      if (!swap) return;
      fs::rename(given, given + ".moved");
      fs::create_directory_symlink(other, given);
    });
    RunResult r =
        medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T", "-rscratchPath", M(given)},
                    {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "1500"}});
    user.join();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(Slurp(other + "/precious.txt"), "keep");
    std::string in_other;
    for (const auto& e : fs::directory_iterator(other))
      in_other += e.path().filename().string() + " ";
    EXPECT_EQ(in_other, "precious.txt ") << r.out;
    const std::string held = swap ? given + ".moved" : given;
    EXPECT_EQ(Slurp(held + "/saved.txt"), "new");
    EXPECT_EQ(Slurp(held + "/installActionsT.log"), "mine");
    // Windows keeps a held directory from being renamed; under Wine it can be, and then
    // what the run staged there is named rather than sought at the name.
    if (windows() && swap) {
      EXPECT_NE(r.out.find("was moved or replaced while the installer ran"), std::string::npos)
          << r.out;
    } else {
      EXPECT_FALSE(fs::exists(held + "/zek")) << r.out;
    }
    if (swap) {
      fs::remove(given);
      fs::rename(given + ".moved", given);
    }
    fs::remove(given + "/saved.txt");
  }
}

// Another program working in the scratch directory when the run ends (a service that Java
// started inherits its directory) keeps it on Windows: the run says it is in use and left,
// not that it was moved or replaced, and says nothing of a log that went with it.
TEST_P(HardeningTest, ScratchDirectoryInUseIsLeftAndSaidSo) {
  if (!windows()) GTEST_SKIP() << "only Windows keeps a directory that a program works in";
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\n");
  const std::string scratch = medium_.temp_dir + "/ZorInstallT";
  std::thread service([&] {
    if (medium_.WaitForJavaRuns(1, 20000).empty()) return;
    RunBuilt(GetParam(), "tests/fake_java", {}, scratch, {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "8000"}});
  });
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"},
                            {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "3000"}});
  service.join();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("ZorInstallT (it is in use by another program"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("moved or replaced"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("cannot be opened"), std::string::npos) << r.out;
}

// A name Windows reads in another form than it is written (a trailing dot or blank, a
// device, the "\\?\" form) is made one before anything is made or refused: the scratch
// directory of a "-rtimestamp T." never becomes another user's ZorInstallT, a TEMP with a
// trailing blank is the directory without it, a device anywhere in a path is named as one.
// A missing TEMP is made with its parents and they go again at the end; one at a drive's
// root gives Java a scratch path with one separator.
TEST_P(HardeningTest, NamesAreReadOneWay) {
  medium_.WriteParamFile("");
  const std::string fresh = medium_.root + "/new1/new2";
  RunResult r = medium_.Run({"-silent", "-noconsole"}, {{"TEMP", M(fresh)}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(fs::exists(medium_.root + "/new1")) << r.out;
  if (!windows()) return;
  const std::string theirs = medium_.temp_dir + "/ZorInstallT";
  Spit(theirs + "/theirs.txt", "theirs");
  r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T."});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(medium_.JavaRuns().size(), 2u);
  EXPECT_EQ(After(medium_.JavaRuns()[1], "-scratchPath").find("ZorInstallT\\"), std::string::npos);
  EXPECT_EQ(Slurp(theirs + "/theirs.txt"), "theirs");
  fs::remove_all(theirs);
  fs::create_directories(medium_.root + "/tmp3");
  r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "B"},
                  {{"TEMP", M(medium_.root + "/tmp3") + " "}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(After(medium_.JavaRuns().back(), "-scratchPath"),
            M(medium_.root + "/tmp3/ZorInstallB"));
  EXPECT_FALSE(fs::exists(medium_.root + "/tmp3 "));
  r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "L"},
                  {{"TEMP", "\\\\?\\" + M(medium_.root + "/tmp3")}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(After(medium_.JavaRuns().back(), "-scratchPath"),
            M(medium_.root + "/tmp3/ZorInstallL"));
  const std::string device = M(medium_.root + "/rs/NUL") + "\\";
  r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", device});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("names a device"), std::string::npos) << r.out;
  r = medium_.Run({"-silent", "-noconsole"}, {{"TEMP", M(medium_.root + "/t/CON/x")}});
  EXPECT_NE(r.out.find("is no usable directory path"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(medium_.root + "/t"));
  // A TEMP at the root of a drive (Y:, mapped to a directory of the test).
  const std::string drive = NativeBuild() + "/blackbox-wineprefix/dosdevices/y:";
  fs::create_directories(medium_.root + "/ydrive");
  fs::remove(drive);
  fs::create_directory_symlink(medium_.root + "/ydrive", drive);
  r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "Y"}, {{"TEMP", "Y:\\"}});
  fs::remove(drive);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(After(medium_.JavaRuns().back(), "-scratchPath"), "Y:\\ZorInstallY");
}

// TEMP is resolved once, at the start: a link on its way that its owner turns while Java
// runs leads nothing of the run elsewhere, not the log a failed run keeps there either.
TEST_P(HardeningTest, TempIsResolvedOnceForTheKeptLog) {
  if (windows()) GTEST_SKIP() << "POSIX links";
  medium_.WriteParamFile("");
  const std::string t1 = medium_.root + "/t1", t2 = medium_.root + "/t2";
  const std::string link = medium_.root + "/tlink", given = medium_.root + "/given";
  for (const std::string& dir : {t1, t2, given}) fs::create_directories(dir);
  fs::permissions(given, fs::perms(0700));
  fs::create_directory_symlink(t1, link);
  std::thread turn([&] {
    if (medium_.WaitForJavaRuns(1, 20000).empty()) return;
    fs::remove(link);
    fs::create_directory_symlink(t2, link);
  });
  RunResult r = medium_.Run(
      {"-silent", "-noconsole", "-rtimestamp", "R", "-rscratchPath", given},
      {{"TEMP", link}, {"ZORVEX_FAKE_JAVA_SLEEP_MS", "1000"}, {"ZORVEX_FAKE_JAVA_EXIT", "3"}});
  turn.join();
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_TRUE(fs::exists(t1 + "/installActionsR.log")) << r.out;
  EXPECT_TRUE(fs::is_empty(t2));
}

// In a given directory only what staging made goes at the end: a file the user saves there
// while staging runs is theirs, though it was not there before.
TEST_P(HardeningTest, WhatTheUserSavesWhileStagingStays) {
  if (windows()) GTEST_SKIP() << "the rule is the launcher's own; Wine copies slowly";
  const std::string jre = medium_.root + "/bigjre", given = medium_.root + "/given";
  for (int i = 0; i < 3000; ++i) Spit(jre + "/lib/f" + std::to_string(i), "x");
  fs::create_directories(jre + "/bin");
  fs::copy_file(medium_.jre_dir + "/bin/" + (windows() ? "javaw.exe" : "java"),
                jre + "/bin/" + (windows() ? "javaw.exe" : "java"));
  fs::create_directories(given);
  fs::permissions(given, fs::perms(0700));
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\nJRE_LOCATION=" + M(jre) + "\n");
  std::atomic<bool> done{false};
  std::thread user([&] {
    while (!done && !fs::exists(given + "/jre")) std::this_thread::sleep_for(1ms);
    if (!done) Spit(given + "/saved.txt", "mine");
  });
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", M(given)});
  done = true;
  user.join();
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Slurp(given + "/saved.txt"), "mine");
  EXPECT_FALSE(fs::exists(given + "/jre"));
}

// Java shares the launcher's terminal and may read it: in another process group it would
// be stopped at its first read, and the launcher would wait for ever.
TEST_P(HardeningTest, JavaReadsTheTerminal) {
  if (windows()) GTEST_SKIP() << "a Windows child shares its parent's console by itself";
  medium_.WriteParamFile("");
  RunResult r = medium_.RunInTerminal({"-silent"}, {{"ZORVEX_FAKE_JAVA_READ", "1"}},
                                      {{"java reads: ", "hello\n"}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(medium_.JavaRuns().size(), 1u) << r.out;
  EXPECT_EQ(medium_.JavaRuns()[0].notes["read"], "hello");
}

// Another user may plant links where a root run writes: the shared /tmp/logs of the
// prerequisite checker, or the registry probe's value. Nothing is written through them.
TEST_P(HardeningTest, PlantedLinksAreNotWrittenThrough) {
  if (windows()) GTEST_SKIP() << "POSIX file modes and links";
  const std::string victim = medium_.root + "/victim";
  std::ofstream(victim) << "untouched";
  fs::create_directories(medium_.temp_dir + "/logs");
  fs::create_symlink(victim, medium_.temp_dir + "/logs/installActionsT.log");
  fs::create_directories(medium_.root + "/prereq");
  medium_.WriteParamFile("");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-prereqChecker", "-rtimestamp", "T",
                             "PREREQ_CONFIG_LOCATION=" + medium_.root + "/prereq"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::string value = medium_.registry_dir + "/HKEY_LOCAL_MACHINE/SOFTWARE/zorvex_zek_tmp";
  fs::create_symlink(victim, value);
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("cannot write to the system registry"), std::string::npos) << r.out;
  EXPECT_EQ(Slurp(victim), "untouched");
  // A log directory the launcher makes is not writable by others.
  fs::remove_all(medium_.temp_dir + "/logs");
  medium_.Run({"-silent", "-noconsole", "-prereqChecker", "-rtimestamp", "T",
               "PREREQ_CONFIG_LOCATION=" + medium_.root + "/prereq"});
  struct stat st;
  ASSERT_EQ(stat((medium_.temp_dir + "/logs").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 022, 0u);
  // TEMP/logs itself a link, or a directory others may write: the prerequisite checker's
  // log goes to the run's own directory instead, and says so.
  const std::string elsewhere = medium_.root + "/elsewhere";
  fs::create_directories(elsewhere);
  fs::remove(value);
  fs::remove_all(medium_.temp_dir + "/logs");
  fs::create_directory_symlink(elsewhere, medium_.temp_dir + "/logs");
  r = medium_.Run({"-silent", "-noconsole", "-prereqChecker", "-rtimestamp", "U",
                   "PREREQ_CONFIG_LOCATION=" + medium_.root + "/prereq"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("is a link, which is not followed"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(elsewhere));
  fs::remove(medium_.temp_dir + "/logs");
  fs::create_directories(medium_.temp_dir + "/logs");
  fs::permissions(medium_.temp_dir + "/logs", fs::perms(0777));
  r = medium_.Run({"-silent", "-noconsole", "-prereqChecker", "-rtimestamp", "V",
                   "PREREQ_CONFIG_LOCATION=" + medium_.root + "/prereq"});
  EXPECT_NE(r.out.find("may be written by other users"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(medium_.temp_dir + "/logs"));
}

// A run refused by the registry probe after staging leaves nothing staged in TEMP: the
// scratch directory goes, and the log is kept and named.
TEST_P(HardeningTest, RegistryRefusalAfterStagingLeavesOnlyTheLog) {
  if (windows()) GTEST_SKIP() << "the file-backed registry";
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
  fs::create_symlink(medium_.root + "/victim",
                     medium_.registry_dir + "/HKEY_LOCAL_MACHINE/SOFTWARE/zorvex_zek_tmp");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("cannot write to the system registry"), std::string::npos) << r.out;
  const std::vector<std::string> left = medium_.TempEntries();
  ASSERT_EQ(left.size(), 1u) << r.out;
  EXPECT_NE(r.out.find("its install log is kept as " + medium_.temp_dir + "/" + left[0]),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(medium_.JavaRuns().empty());
}

// Staging writes only below the scratch directory: a link standing there (left by an
// archive, or in a given directory) is never written through, and what is neither file,
// directory nor link is never opened: a pipe would hang the run, a device fill the disk.
TEST_P(HardeningTest, StagingNeverWritesThroughLinksNorOpensSpecialFiles) {
  if (windows()) GTEST_SKIP() << "POSIX links, pipes and devices";
  const std::string outside = medium_.root + "/outside", given = medium_.root + "/given";
  const std::string ext = medium_.root + "/extlib";
  for (const std::string& dir : {outside, given, ext}) fs::create_directories(dir);
  std::ofstream(ext + "/lib.so") << "library";
  ASSERT_EQ(mkfifo((ext + "/pipe").c_str(), 0600), 0);
  bool device = mknod((ext + "/zero").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
  fs::create_symlink(outside, given + "/ext");
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nEXT_LIB=" + ext + "\n");
  // What the user's directory held is never staged onto, a link least of all.
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", given});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("cannot stage ext into " + given + ": it would land on " + given + "/ext"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(fs::is_empty(outside));
  fs::remove(given + "/ext");
  r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", given}, kStillRunning);
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_EQ(Slurp(given + "/ext/lib/lib.so"), "library");
  EXPECT_FALSE(fs::exists(given + "/ext/lib/pipe"));
  if (device) {
    EXPECT_FALSE(fs::exists(given + "/ext/lib/zero"));
  }
  // A required tree that meets a link ends the staging, with nothing written through it.
  fs::remove_all(given);
  fs::create_directories(given);
  fs::create_symlink(outside, given + "/zek");
  r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", given});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("cannot stage zek"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(outside));
}

// A value that becomes one part of a path may not climb out of where it belongs.
TEST_P(HardeningTest, JreVersionThatIsAPathIsRefused) {
  const std::string sep(1, medium_.Sep());
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\nJRE_VERSION=.." + sep + ".." +
                         sep + ".." + sep + "x\n");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  if (!windows()) {
    EXPECT_NE(r.out.find("is no plain directory name"), std::string::npos) << r.out;
  }
  EXPECT_TRUE(medium_.JavaRuns().empty());
  for (const std::string& entry : medium_.TempEntries()) {
    EXPECT_NE(entry.rfind("ZorInstall", 0), 0u) << entry;  // the log alone is kept
  }
}

// A subkey left by an interrupted registry probe does not refuse later runs.
TEST_P(HardeningTest, StaleProbeKeyIsNoObstacle) {
  if (windows()) {
    medium_.SetRegistryValue("Software\\zorvex_zek_tmp", "left", "over");
  } else {
    fs::create_directories(medium_.registry_dir + "/HKEY_LOCAL_MACHINE/SOFTWARE/zorvex_zek_tmp");
  }
  medium_.WriteParamFile("");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  if (windows()) medium_.DeleteRegistryKey("Software\\zorvex_zek_tmp");
}

// Every quoted element reaches Java as it stands: a value ending in a separator, a path
// holding a double quote (POSIX), and the elements after them stay whole.
TEST_P(HardeningTest, QuotedValuesReachJavaExactly) {
  const std::string sep(1, medium_.Sep());
  const std::string prereq = M(medium_.root + "/prereq") + sep;
  fs::create_directories(medium_.root + "/prereq");
  Env env;
  std::string temp = M(medium_.temp_dir);
  if (!windows()) {
    temp = medium_.root + "/te\"mp";
    fs::create_directories(temp);
    env["TEMP"] = temp;
  }
  medium_.WriteParamFile("JRE_LOCATION=" + M(medium_.jre_dir) + sep + "\n");
  RunResult r = medium_.Run({"-silent", "-noconsole", "PREREQ_CONFIG_LOCATION=" + prereq}, env);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(medium_.JavaRuns().size(), 1u);
  const JavaRecord run = medium_.JavaRuns()[0];
  EXPECT_NE(
      std::find(run.args.begin(), run.args.end(), "-Dzorvex.installer.prereqConfigLoc=" + prereq),
      run.args.end());
  EXPECT_EQ(After(run, "-cp").rfind(After(run, "-scratchPath"), 0), 0u);
  EXPECT_EQ(After(run, "-scratchPath").rfind(temp + sep + "ZorInstall", 0), 0u)
      << After(run, "-scratchPath");
  const std::string main_class = "zorvex.admkit.qii.qiic.QiicInstaller";
  EXPECT_EQ(After(run, "-cp").empty(), false);
  EXPECT_NE(std::find(run.args.begin(), run.args.end(), main_class), run.args.end());
  EXPECT_EQ(run.args.back(), "PREREQ_CONFIG_LOCATION=" + prereq);
}

// Files that are no files: a pipe as the catalogue, a device as the parameter file, and a
// parameter file too large to be one. The run neither hangs nor fills memory.
TEST_P(HardeningTest, SpecialAndOversizedFiles) {
  if (windows()) GTEST_SKIP() << "POSIX pipes and devices";
  medium_.WriteParamFile("");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-paramFile", "/dev/zero"});
  EXPECT_EQ(r.status, 255) << r.out << r.err;  // defaults: no Java runtime is named
  const std::string big = medium_.root + "/big.ini";
  std::ofstream(big) << "[Zorvex]\n" << std::string(9 << 20, ';');
  r = medium_.Run({"-silent", "-noconsole", "-paramFile", big});
  EXPECT_NE(r.err.find(big + " is larger than 8 MiB; it is not read."), std::string::npos) << r.err;
  fs::remove(medium_.medium_dir + "/resource/cons.nls");
  ASSERT_EQ(mkfifo((medium_.medium_dir + "/resource/cons.nls").c_str(), 0600), 0);
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Could not read any NLS message catalogue"), std::string::npos) << r.err;
}

// Paths on the command line mean what they meant where they were typed, although the
// launcher changes its working directory (to the temporary directory after a bootstrap).
TEST_P(HardeningTest, RelativePathsMeanTheCallersDirectory) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\n");
  RunResult r = medium_.Run(
      {"-silent", "-noconsole", "-jreLoc", "jre", "-PREREQLOGLOC", "plogs", "-rtimestamp", "T"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(medium_.JavaRuns().size(), 1u);
  EXPECT_EQ(medium_.JavaRuns()[0].args[0],
            M(medium_.jre_dir + "/bin/") + (windows() ? "javaw.exe" : "java"));
  EXPECT_TRUE(fs::exists(medium_.root + "/plogs/logs/installActionsT.log"));
}

// "-J" in the launcher's own path is part of a directory name, not a Java option.
TEST_P(HardeningTest, MediumUnderADirectoryNamedJava) {
  Medium medium(GetParam(), "Acme-Java");
  medium.WriteParamFile("");
  RunResult r = medium.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<JavaRecord> runs = medium.JavaRuns();
  ASSERT_EQ(runs.size(), 1u);
  for (const std::string& arg : runs[0].args) {
    EXPECT_NE(arg.rfind("ava", 0), 0u) << arg;
  }
}

// A Java command line longer than CreateProcess takes is refused, with its error code.
TEST_P(HardeningTest, OverlongJavaCommandLineIsRefused) {
  if (!windows()) GTEST_SKIP() << "the 32,767-character limit is Windows'";
  std::string words;
  for (int i = 0; i < 700; ++i)
    words += "-Dzorvex.padding" + std::to_string(i) + "=xxxxxxxxxxxxxxxxxxxxxxxxxxx ";
  medium_.WriteParamFile("JRE_MEMORY_OPTIONS=" + words + "\n");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 206) << r.out;
  EXPECT_NE(r.out.find("CreateZEKProcess() failed with system error 206."), std::string::npos)
      << r.out;
  EXPECT_TRUE(medium_.JavaRuns().empty());
}

// A run that cannot make its scratch directory says why.
TEST_P(HardeningTest, ScratchFailuresSayWhy) {
  medium_.WriteParamFile("");
  const std::string file = medium_.root + "/a_file";
  std::ofstream(file) << "x";
  RunResult r = medium_.Run({"-silent", "-noconsole"}, {{"TEMP", M(file)}});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("The directory " + M(file) + " cannot be created"), std::string::npos)
      << r.out;
  r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", std::string(300, 'x')});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("cannot be created, or it is not writable"), std::string::npos) << r.out;
}

// A file-system root as the scratch directory would put the run's files, and the first
// class-path entry, where any user may create folders: refused before anything is written.
// Other odd forms of a directory either work or say why.
TEST_P(HardeningTest, ScratchPathsThatAreRootsOrOdd) {
  medium_.WriteParamFile("");
  const std::string tmp = M(medium_.root);
  std::vector<std::string> roots = {"/", M(medium_.root + "/..") + "/../../.."};
  if (windows()) {
    roots = {"Z:\\", "Z:", "Z:\\.", "Z:/", tmp + "\\..\\..\\..\\..\\..", "\\\\?\\Z:\\"};
  }
  for (const std::string& root : roots) {
    SCOPED_TRACE(root);
    RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", root});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("names the root of a drive or file system"), std::string::npos) << r.out;
  }
  EXPECT_TRUE(medium_.JavaRuns().empty());
  if (windows()) {
    for (const std::string& device : {std::string("NUL"), std::string("CON"), tmp + "\\com1.txt"}) {
      SCOPED_TRACE(device);
      RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", device});
      EXPECT_EQ(r.status, 255) << r.out << r.err;
      EXPECT_NE(r.out.find("names a device, not a directory"), std::string::npos) << r.out;
    }
  }
  // A new directory below new parents, and one typed in quotes as users quote a path with
  // blanks: both are used, and the parents the run made go with the directory.
  std::vector<std::string> odd = {medium_.root + "/new4 ", medium_.root + "/new5/new6"};
  if (windows()) {
    odd = {tmp + "\\new4 ", "\\\\?\\" + tmp + "\\new2", tmp + "\\new3.", tmp + "\\new5\\new6",
           "\"" + tmp + "\\my dir\""};
  }
  for (const std::string& path : odd) {
    SCOPED_TRACE(path);
    RunResult r = medium_.Run({"-silent", "-noconsole", "-rscratchPath", path});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(medium_.JavaRuns().size(), 1u);
    fs::remove(medium_.record_file);
  }
  EXPECT_FALSE(fs::exists(medium_.root + "/new5"));
  EXPECT_FALSE(fs::exists(medium_.root + "/my dir"));
}

// Installers are started from download folders full of other files: the Windows programs
// import only DLLs that Windows takes from System32 whatever lies beside them (KnownDLLs),
// and load anything else from System32 alone. A bcrypt.dll planted beside them (given
// Windows' search order under Wine) is never loaded, also when the unzip hashes a jar.
TEST_P(HardeningTest, NoDllBesideTheProgramsIsLoaded) {
  if (!windows()) GTEST_SKIP() << "Windows DLLs";
  const std::set<std::string> known = {
      "advapi32.dll", "clbcatq.dll",  "combase.dll",  "comdlg32.dll", "coml2.dll",
      "difxapi.dll",  "gdi32.dll",    "gdiplus.dll",  "imagehlp.dll", "imm32.dll",
      "kernel32.dll", "msctf.dll",    "msvcrt.dll",   "normaliz.dll", "nsi.dll",
      "ntdll.dll",    "ole32.dll",    "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",
      "sechost.dll",  "setupapi.dll", "shcore.dll",   "shell32.dll",  "shlwapi.dll",
      "user32.dll",   "wldap32.dll",  "ws2_32.dll"};
  const std::string dir = medium_.root + "/downloads";
  fs::create_directories(dir);
  for (const std::string program : {"setup", "unzip"}) {
    SCOPED_TRACE(program);
    const std::string exe = GetParam().build_dir + "/" + program + ".exe";
    FILE* pipe = ::popen(("x86_64-w64-mingw32-objdump -p '" + exe + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512];
    int imports = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      std::string text = line;
      const size_t at = text.find("DLL Name: ");
      if (at == std::string::npos) continue;
      std::string name = text.substr(at + 10);
      while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())))
        name.pop_back();
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      EXPECT_EQ(known.count(name), 1u) << name;
      ++imports;
    }
    ::pclose(pipe);
    EXPECT_GT(imports, 0);
    // Only the launcher asks for administrator rights: the unzip, run by hand, has those of
    // whoever starts it.
    const std::string level = program == "setup" ? "requireAdministrator" : "asInvoker";
    EXPECT_NE(Slurp(exe).find("requestedExecutionLevel level=\"" + level + "\""),
              std::string::npos);
    fs::copy_file(exe, dir + "/" + program + ".exe", fs::copy_options::overwrite_existing);
  }
  fs::copy_file(GetParam().build_dir + "/tests/planted/bcrypt.dll", dir + "/bcrypt.dll");
  fs::copy(GetParam().build_dir + "/resource", dir + "/resource", fs::copy_options::recursive);
  const std::string mark = medium_.root + "/loaded";
  const Env planted = {{"WINEDLLOVERRIDES", "bcrypt=n,b;mscoree,mshtml="},
                       {"ZORVEX_PLANTED_MARK", M(mark)}};
  // The unzip checking a jar as the launcher has it check one: it hashes.
  testing::ZipBytes zip;
  zip.Add("a.txt", "a", {});
  Spit(dir + "/a.jar", zip.Finish());
  const std::string jar = Slurp(dir + "/a.jar");
  std::string sum(64, '\0');
  FILE* sha = ::popen(("sha256sum '" + dir + "/a.jar'").c_str(), "r");
  ASSERT_NE(sha, nullptr);
  ASSERT_EQ(std::fread(sum.data(), 1, sum.size(), sha), sum.size());
  ::pclose(sha);
  Target here = GetParam();
  here.build_dir = dir;
  RunResult r = RunBuilt(here, "unzip",
                         {"-qqqo", "--sha256", "a.jar:" + std::to_string(jar.size()) + ":" + sum,
                          "a.jar", "-d", "out"},
                         dir, planted);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Slurp(dir + "/out/a.txt"), "a");
  r = RunBuilt(here, "setup", {"-silent", "-noconsole", "-help"}, dir, planted);
  EXPECT_FALSE(fs::exists(mark)) << "a bcrypt.dll beside the programs was loaded";
}

INSTANTIATE_TEST_SUITE_P(Targets, HardeningTest, ::testing::ValuesIn(BuiltTargets()), TargetName);

}  // namespace
}  // namespace zorvex::blackbox
