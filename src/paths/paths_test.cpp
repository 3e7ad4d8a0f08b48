#include "paths/paths.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "options/option_state.h"

namespace zorvex::paths {
namespace {

class PathsTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    AddCatalogue("cons.nls", {{"S_ZEK", "Title"}, {"S_ERPERDIR", "cannot create %s"}});
    StartRun();
  }
  // A run's start on the doubles as they are: the catalogue loaded, the timestamp taken.
  void StartRun() {
    LoadCatalogues();
    Options().timestamp = "2010-03-12_02-05-09PM";
  }
  void NewRun() {
    fake_.NewRun();
    StartRun();
  }
};

// The name and place rules the launcher's refusals rest on, each row a guard: a plain
// name never leads elsewhere (a NUL byte ends a name where the system reads it), a root is
// never staged into or removed, and "below" is told by whole components.
TEST(PathRulesTest, PlainNamesRootsAndWhatLiesBelow) {
  const struct {
    std::string name;
    bool plain;
  } names[] = {
      {"zorvex.swd.jre", true},
      {"17.0.2", true},
      {"", false},
      {".", false},
      {"..", false},
      {"a/b", false},
      {"a\\b", false},
      {"C:x", false},
      {std::string("jre\0x", 5), false},
      {"...", true},
  };
  for (const auto& n : names) {
    SCOPED_TRACE(n.name);
    EXPECT_EQ(IsPlainName(n.name), n.plain);
  }
  const platform::PathStyle& win = platform::kWindowsStyle;
  const platform::PathStyle& posix = platform::kPosixStyle;
  const struct {
    const char* path;
    const platform::PathStyle* style;
    bool root;
  } roots[] = {
      {"/", &posix, true},
      {"//", &posix, true},
      {"/tmp", &posix, false},
      {"", &posix, false},
      {"C:\\", &win, true},
      {"c:", &win, true},
      {"\\", &win, true},
      {"\\\\srv\\share", &win, true},
      {"\\\\srv\\share\\", &win, true},
      {"\\\\srv\\share\\x", &win, false},
      {"C:\\TEMP", &win, false},
  };
  for (const auto& r : roots) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(IsRootDirectory(r.path, *r.style), r.root);
  }
  const struct {
    const char* path;
    const char* dir;
    const platform::PathStyle* style;
    bool below;
  } below[] = {
      {"/a/b", "/a", &posix, true},
      {"/a", "/a/b", &posix, false},  // the other way round: never
      {"/a", "/a", &posix, true},
      {"/ab", "/a", &posix, false},   // a longer name is no child
      {"/A/b", "/a", &posix, false},  // POSIX names differ by case
      {"C:\\A\\b", "c:\\a", &win, true},
      {"C:\\a", "C:\\a\\b", &win, false},
      {"C:\\ab", "C:\\a", &win, false},
  };
  for (const auto& b : below) {
    SCOPED_TRACE(std::string(b.path) + " below " + b.dir);
    EXPECT_EQ(IsSameOrBelow(b.path, b.dir, *b.style), b.below);
  }
}

TEST_F(PathsTest, AppendPathJoinsWithOneSeparator) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"", "x", "x"},
      {"C:\\", "x", "C:\\x"},
      {"C:", "x", "C:\\x"},
      {"C:\\a", "b\\c", "C:\\a\\b\\c"}};
  for (const auto& [path, component, expected] : cases) {
    std::string p = path;
    AppendPath(&p, component);
    EXPECT_EQ(p, expected);
  }
}

TEST_F(PathsTest, StripLastComponentCutsAtTheLastSeparator) {
  const std::pair<const char*, const char*> cases[] = {
      {"setup.exe", "setup.exe"}, {"C:\\a\\b", "C:\\a"}, {"C:\\", "C:"}};
  for (const auto& [path, expected] : cases) {
    std::string out = "untouched";
    StripLastComponent(path, &out);
    EXPECT_EQ(out, expected);
  }
  std::string out = "untouched";
  StripLastComponent("", &out);
  EXPECT_EQ(out, "untouched");
}

TEST_F(PathsTest, TempPathCheckOfBothStyles) {
  const std::tuple<const platform::PathStyle*, const char*, bool> cases[] = {
      {&platform::kWindowsStyle, "C:\\Users\\me\\Temp\\", true},
      {&platform::kWindowsStyle, "\\\\server\\share\\tmp", true},
      {&platform::kWindowsStyle, "C:\\", true},
      {&platform::kWindowsStyle, "temp", false},
      {&platform::kWindowsStyle, "C:", false},
      {&platform::kWindowsStyle, "C:temp", false},
      {&platform::kWindowsStyle, "C:\\a;D:\\b", false},
      {&platform::kWindowsStyle, "C:\\a/b", false},
      {&platform::kWindowsStyle, "C:\\a|b", false},
      {&platform::kWindowsStyle, "1:\\a", false},
      {&platform::kPosixStyle, "/tmp", true},
      {&platform::kPosixStyle, "/var/tmp/", true},
      {&platform::kPosixStyle, "/", false},
      {&platform::kPosixStyle, "tmp", false},
      {&platform::kPosixStyle, "/tmp:/x", false},
      {&platform::kPosixStyle, "/a*b", false},
  };
  for (const auto& [style, path, usable] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(IsUsableTempPath(path, *style, system_), usable);
  }
}

TEST_F(PathsTest, TempDirectoryFromTempThenTmp) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* expected;
  };
  const Case cases[] = {
      {{{"TEMP", "C:\\Users\\me\\AppData\\Local\\Temp\\"}}, "C:\\Users\\me\\AppData\\Local\\Temp"},
      {{{"TEMP", "temp"}, {"TMP", "D:\\tmp"}}, "C:\\TEMP"},  // TMP not asked: TEMP is set
      {{{"TMP", "D:\\tmp"}}, "D:\\tmp"},
      {{{"TEMP", "C:\\a;C:\\b"}}, "C:\\TEMP"},
      {{{"TEMP", "C:\\"}}, "C:"},
      {{}, "C:\\TEMP"},
      // Windows takes "/" as its separator too: not a reason to fall back to the shared C:\TEMP.
      {{{"TEMP", "Y:/tmp/t"}}, "Y:\\tmp\\t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    system_.env = c.env;
    NewRun();
    std::string out;
    GetTempDirectory(&out);
    EXPECT_EQ(out, c.expected);
    // A value that is not taken is said; no value at all is no news.
    EXPECT_EQ(TempDirectoryNote().empty(), c.env.empty() || out != "C:\\TEMP");
  }
}

TEST_F(PathsTest, MakeDirectoriesCreatesParentsAndRefusesReadOnly) {
  EXPECT_EQ(MakeDirectories("C:\\TEMP\\a\\b"), 1);
  EXPECT_TRUE(files_.IsDir("C:\\TEMP\\a"));
  files_.AddDir("C:\\ro");
  files_.read_only.insert("C:\\ro");
  EXPECT_EQ(MakeDirectories("C:\\ro"), 0);
  EXPECT_EQ(MakeDirectories("C:\\ro\\sub"), 0);
}

TEST_F(PathsTest, ScratchDirectoryTakesTheNextFreeSuffix) {
  system_.env["TEMP"] = "C:\\T";
  const char* expected[] = {"C:\\T\\ZorInstall2010-03-12_02-05-09PM",
                            "C:\\T\\ZorInstall2010-03-12_02-05-09PM_1",
                            "C:\\T\\ZorInstall2010-03-12_02-05-09PM_2"};
  for (const char* name : expected) {
    std::string path;
    std::unique_ptr<platform::TreeWriter> held;
    EXPECT_TRUE(CreateScratchDirectory(&path, &held));
    EXPECT_EQ(path, name);
    EXPECT_TRUE(files_.IsDir(name));
    EXPECT_TRUE(held);
  }
}

// Another user taking every name of the coming seconds in a shared TEMP costs a name with
// a random suffix, not the run.
TEST_F(PathsTest, ScratchNamesTakenByOthersCostARandomName) {
  system_.env["TEMP"] = "C:\\T";
  const std::string base = "C:\\T\\ZorInstall2010-03-12_02-05-09PM";
  files_.AddDir(base);
  for (int i = 1; i <= 1023; ++i) files_.AddDir(base + "_" + std::to_string(i));
  std::string path;
  std::unique_ptr<platform::TreeWriter> held;
  EXPECT_TRUE(CreateScratchDirectory(&path, &held));
  EXPECT_EQ(path.size(), base.size() + 9) << path;
  EXPECT_EQ(path.rfind(base + "_", 0), 0u) << path;
  EXPECT_TRUE(files_.IsDir(path));
}

TEST_F(PathsTest, ScratchDirectoryReportsAnUnusableTemp) {
  system_.env["TEMP"] = "C:\\ro";
  files_.AddDir("C:\\ro");
  files_.read_only.insert("C:\\ro");
  std::string path;
  std::unique_ptr<platform::TreeWriter> held;
  EXPECT_FALSE(CreateScratchDirectory(&path, &held));
  ASSERT_EQ(console_.boxes.size(), 1u);
  EXPECT_EQ(console_.boxes[0], "Title|cannot create C:\\ro");
}

TEST_F(PathsTest, ScratchCreationFailureSaysWhy) {
  AddCatalogue("cons.nls", {{"S_ERPERDIR", "cannot make %s"}, {"S_ZEK", "T"}});
  LoadCatalogues();
  system_.env["TEMP"] = "C:\\T";
  files_.AddDir("C:\\T");
  files_.mkdir_fails.insert("C:\\T\\ZorInstall2010-03-12_02-05-09PM");
  std::string path;
  std::unique_ptr<platform::TreeWriter> held;
  EXPECT_FALSE(CreateScratchDirectory(&path, &held));
  EXPECT_EQ(console_.boxes,
            std::vector<std::string>{"T|cannot make C:\\T\\ZorInstall2010-03-12_02-05-09PM"});
  // TEMP naming a file: the temporary directory itself is refused.
  console_.boxes.clear();
  files_.AddFile("C:\\F");
  system_.env["TEMP"] = "C:\\F";
  NewRun();
  EXPECT_FALSE(CreateScratchDirectory(&path, &held));
  EXPECT_EQ(console_.boxes, std::vector<std::string>{"T|cannot make C:\\F"});
  // A name the system holds as another directory than the one made: not used, and the one
  // made goes again.
  console_.boxes.clear();
  system_.env["TEMP"] = "C:\\T";
  NewRun();
  files_.mkdir_fails.clear();
  files_.AddDir("C:\\T\\Theirs");
  files_.held_as["C:\\T\\ZorInstall2010-03-12_02-05-09PM"] = "C:\\T\\Theirs";
  EXPECT_FALSE(CreateScratchDirectory(&path, &held));
  EXPECT_FALSE(held);
  EXPECT_FALSE(files_.Exists("C:\\T\\ZorInstall2010-03-12_02-05-09PM"));
  EXPECT_TRUE(files_.Exists("C:\\T\\Theirs"));
}

TEST_F(PathsTest, PrereqCheckerLogsGoToTheTempDirectory) {
  system_.env["TEMP"] = "C:\\T";
  Options().prereqchecker = true;
  std::string path;
  std::unique_ptr<platform::TreeWriter> held;
  CreateScratchDirectory(&path, &held);
  EXPECT_EQ(Options().prereqlogloc, "C:\\T");
}

TEST_F(PathsTest, CurrentDirIsTheLaunchersDirectory) {
  std::string dir;
  EXPECT_TRUE(GetCurrentDir(&dir));
  EXPECT_EQ(dir, "C:\\media\\disk1");
  system_.module_path = "C:\\setup.exe";
  GetCurrentDir(&dir);
  EXPECT_EQ(dir, "C:");
}

TEST(RunTimestampTest, TwelveHourClockWithAmPm) {
  std::tm t{};
  t.tm_year = 110;
  t.tm_mon = 2;
  t.tm_mday = 12;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(FormatRunTimestamp(t), "2010-03-12_02-05-09PM");
  t.tm_hour = 0;
  EXPECT_EQ(FormatRunTimestamp(t), "2010-03-12_12-05-09AM");
}

class PosixPathsTest : public testing::PlatformTest {
 protected:
  PosixPathsTest() : PlatformTest(&platform::kPosixStyle) {}
};

TEST_F(PosixPathsTest, TempDirectoryFallsBackToTmpdirThenTmp) {
  system_.env = {{"TMPDIR", "/var/tmp/"}};
  std::string out;
  GetTempDirectory(&out);
  EXPECT_EQ(out, "/var/tmp");
  system_.env = {{"TEMP", "relative"}, {"TMPDIR", "/var/tmp"}};
  fake_.NewRun();
  GetTempDirectory(&out);
  EXPECT_EQ(out, "/tmp");
}

TEST_F(PosixPathsTest, LauncherAtTheRootKeepsTheRoot) {
  system_.module_path = "/setup";
  std::string dir;
  GetCurrentDir(&dir);
  EXPECT_EQ(dir, "/");
}

}  // namespace
}  // namespace zorvex::paths
