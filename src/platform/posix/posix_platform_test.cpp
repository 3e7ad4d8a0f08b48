// The POSIX platform layer against the real operating system, in a temporary directory.
#include "platform/posix/posix_platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zorvex::platform {
namespace {

namespace fs = std::filesystem;

class PosixPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zorvex-posix-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    cwd_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(cwd_);
    std::error_code ec;
    fs::permissions(dir_, fs::perms::all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string dir_;
  fs::path cwd_;
  PosixFileSystem files_;
};

TEST_F(PosixPlatformTest, MakeDirTellsCreatedFromTakenAndKeepsOthersOut) {
  std::string d = dir_ + "/scratch";
  EXPECT_EQ(files_.MakeDir(d, true), FileSystem::MakeDirResult::kCreated);
  struct stat st;
  ASSERT_EQ(stat(d.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(files_.MakeDir(d, true), FileSystem::MakeDirResult::kAlreadyExists);
  EXPECT_EQ(files_.MakeDir(dir_ + "/no/parent", false), FileSystem::MakeDirResult::kFailed);
}

TEST_F(PosixPlatformTest, CopyOverwritesAndReadOnlyFilesStay) {
  Write(dir_ + "/a", "new");
  Write(dir_ + "/b", "old contents");
  ASSERT_TRUE(files_.CopyFileOverwriting(dir_ + "/a", dir_ + "/b"));
  std::string bytes;
  ASSERT_EQ(files_.ReadFile(dir_ + "/b", &bytes), FileSystem::ReadResult::kOk);
  EXPECT_EQ(bytes, "new");
  EXPECT_FALSE(files_.CopyFileOverwriting(dir_ + "/missing", dir_ + "/c"));
  chmod((dir_ + "/b").c_str(), 0444);
  EXPECT_FALSE(files_.RemoveFile(dir_ + "/b"));  // as Windows refuses a read-only file
  chmod((dir_ + "/a").c_str(), 0544);
  ASSERT_TRUE(files_.CopyFileOverwriting(dir_ + "/a", dir_ + "/b"));
  struct stat st;
  ASSERT_EQ(stat((dir_ + "/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);  // its owner's alone, runnable as the source is
  EXPECT_TRUE(files_.RemoveFile(dir_ + "/b"));
}

TEST_F(PosixPlatformTest, ListingIsSortedAndMarksDirectories) {
  Write(dir_ + "/b.jar", "");
  Write(dir_ + "/a.jar", "");
  fs::create_directory(dir_ + "/sub");
  fs::create_directory_symlink(dir_ + "/sub", dir_ + "/link");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(files_.ListDirectory(dir_, &entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) {
    names.push_back(e.name + (e.is_directory ? "/" : "") + (e.is_link ? "@" : ""));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"./", "../", "a.jar", "b.jar", "link@", "sub/"}));
  EXPECT_TRUE(files_.IsLink(dir_ + "/link"));
  EXPECT_TRUE(files_.RemoveLink(dir_ + "/link"));
  EXPECT_TRUE(fs::is_directory(dir_ + "/sub"));
  EXPECT_FALSE(files_.ListDirectory(dir_ + "/none", &entries));
}

TEST_F(PosixPlatformTest, FullPathFoldsLexically) {
  std::string full;
  ASSERT_TRUE(files_.FullPath("/a/./b/../c/", &full));
  EXPECT_EQ(full, "/a/c/");
  ASSERT_TRUE(files_.FullPath("/../x", &full));
  EXPECT_EQ(full, "/x");
  ASSERT_TRUE(files_.SetWorkingDirectory(dir_));
  ASSERT_TRUE(files_.FullPath("d/../e", &full));
  EXPECT_EQ(full, fs::canonical(dir_).string() + "/e");
}

// A log is a file the run makes: made where no file was, flushed at every write, and
// opened again only while its name leads to that same file.
TEST_F(PosixPlatformTest, LogFilesAreMadeAndOpenedAgainOnlyAsThemselves) {
  safetree::FileId id;
  std::unique_ptr<AppendFile> log = files_.OpenLogFile(dir_ + "/log", true, &id);
  ASSERT_TRUE(log);
  log->Write("one");
  std::string bytes;
  files_.ReadFile(dir_ + "/log", &bytes);
  EXPECT_EQ(bytes, "one");
  log->Write("two");  // the kept bytes of a read follow the file's changes
  files_.ReadFile(dir_ + "/log", &bytes);
  EXPECT_EQ(bytes, "onetwo");
  log.reset();
  EXPECT_TRUE(files_.OpenLogFile(dir_ + "/log", false, &id));
  EXPECT_EQ(files_.OpenLogFile(dir_ + "/log", true, &id), nullptr);  // taken
  safetree::FileId other = id;
  fs::rename(dir_ + "/log", dir_ + "/log.old");
  Write(dir_ + "/log", "a file of someone else's");
  EXPECT_EQ(files_.OpenLogFile(dir_ + "/log", false, &other), nullptr);
  EXPECT_EQ(files_.OpenLogFile(dir_ + "/none/log", true, &id), nullptr);
}

// Neither a log nor a file the launcher reads may be anything but a regular file: a link
// planted for a log, a pipe, a device or a directory counts as a file that cannot be
// opened, and reading them never blocks.
TEST_F(PosixPlatformTest, OnlyRegularFilesAreReadAndAppendedTo) {
  Write(dir_ + "/target", "keep");
  fs::create_symlink(dir_ + "/target", dir_ + "/planted");
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  for (const std::string& path :
       {dir_ + "/planted", dir_ + "/fifo", dir_, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    safetree::FileId id;
    EXPECT_EQ(files_.OpenLogFile(path, true, &id), nullptr);
    EXPECT_TRUE(files_.Identify(path, &id) || path == dir_);
  }
  std::string bytes;
  ASSERT_EQ(files_.ReadFile(dir_ + "/target", &bytes), FileSystem::ReadResult::kOk);
  EXPECT_EQ(bytes, "keep");
  for (const std::string& path : {dir_ + "/fifo", dir_, std::string("/dev/zero")}) {
    EXPECT_EQ(files_.ReadFile(path, &bytes), FileSystem::ReadResult::kCannotOpen) << path;
  }
  std::ofstream(dir_ + "/big").seekp(kMaxReadBytes) << 'x';
  EXPECT_EQ(files_.ReadFile(dir_ + "/big", &bytes), FileSystem::ReadResult::kTooLarge);
  EXPECT_EQ(bytes, "keep");
}

TEST_F(PosixPlatformTest, FileRegistryMatchesNamesInAnyCase) {
  fs::create_directories(dir_ + "/HKEY_LOCAL_MACHINE/software/Zorvex");
  Write(dir_ + "/HKEY_LOCAL_MACHINE/software/Zorvex/Inst_Loc", "/opt/inv");
  PosixRegistry registry(dir_);
  std::string value;
  EXPECT_EQ(registry.ReadValue("SOFTWARE\\ZORVEX", "inst_loc", &value), Registry::ReadResult::kOk);
  EXPECT_EQ(value, "/opt/inv");
  EXPECT_EQ(registry.ReadValue("SOFTWARE\\ZORVEX", "other", &value),
            Registry::ReadResult::kNoValue);
  EXPECT_EQ(registry.ReadValue("SOFTWARE\\WOW6432NODE\\ZORVEX", "inst_loc", &value),
            Registry::ReadResult::kNoKey);
  ASSERT_TRUE(registry.OpenForWrite("Software"));
  ASSERT_TRUE(registry.SetStringValue("Software", "probe", "temp value"));
  EXPECT_TRUE(registry.DeleteValue("Software", "probe"));
  ASSERT_TRUE(registry.CreateKey("Software\\probe", "temp key"));
  EXPECT_TRUE(registry.CreateKey("Software\\probe", "temp key"));  // opens an existing key
  EXPECT_TRUE(fs::is_directory(dir_ + "/HKEY_LOCAL_MACHINE/software/probe"));
  // A value and a subkey of one name live side by side, in either order of making.
  ASSERT_TRUE(registry.SetStringValue("Software", "probe", "beside the key"));
  EXPECT_EQ(registry.ReadValue("Software", "probe", &value), Registry::ReadResult::kOk);
  EXPECT_EQ(value, "beside the key");
  EXPECT_TRUE(registry.DeleteKey("Software\\probe"));
  ASSERT_TRUE(registry.CreateKey("Software\\probe", "temp key"));
  EXPECT_EQ(registry.ReadValue("Software", "probe", &value), Registry::ReadResult::kOk);
  EXPECT_TRUE(registry.DeleteValue("Software", "probe"));
  EXPECT_TRUE(registry.DeleteKey("Software\\probe"));
  // A value is never written through a link.
  fs::create_symlink(dir_ + "/outside", dir_ + "/HKEY_LOCAL_MACHINE/software/planted");
  EXPECT_FALSE(registry.SetStringValue("Software", "planted", "temp value"));
  EXPECT_FALSE(fs::exists(dir_ + "/outside"));
  PosixRegistry missing(dir_ + "/none");
  EXPECT_FALSE(missing.OpenForWrite("Software"));
}

TEST_F(PosixPlatformTest, ChildExitCodesSignalsAndStartFailures) {
  PosixProcesses processes;
  uint32_t error = 0;
  auto child = processes.Start("/bin/sh -c \"exit 3\"", false, &error);
  ASSERT_TRUE(child);
  EXPECT_EQ(child->WaitForExit(), 0u);
  uint32_t code = 0;
  ASSERT_TRUE(child->ExitCode(&code, &error));
  EXPECT_EQ(code, 3u);

  child = processes.Start("/bin/sh -c \"kill -9 $$\"", true, &error);
  ASSERT_TRUE(child);
  child->WaitForExit();
  child->ExitCode(&code, &error);
  EXPECT_EQ(code, 128u + 9u);

  child = processes.Start("/bin/sh -c \"sleep 1; exit 5\"", false, &error);
  ASSERT_TRUE(child);
  child->ExitCode(&code, &error);
  EXPECT_EQ(code, 259u);  // still running
  child->WaitForExit();
  child->ExitCode(&code, &error);
  EXPECT_EQ(code, 5u);

  EXPECT_EQ(processes.Start("\"" + dir_ + "/none\" x", false, &error), nullptr);
  EXPECT_NE(error, 0u);
  Write(dir_ + "/not-a-program", "plain text");
  chmod((dir_ + "/not-a-program").c_str(), 0755);
  EXPECT_EQ(processes.Start(dir_ + "/not-a-program", false, &error), nullptr);
  EXPECT_NE(error, 0u);
  // Why, in the system's words; a refused program (noexec, a security module) says what to do.
  EXPECT_EQ(processes.StartFailureText(ENOENT), "No such file or directory.");
  EXPECT_NE(processes.StartFailureText(EACCES).find("Permission denied. The file system may be "
                                                    "mounted so that no program may run"),
            std::string::npos);
}

TEST_F(PosixPlatformTest, ChildGetsTheWindowsSplitOfItsCommandLine) {
  PosixProcesses processes;
  uint32_t error = 0;
  std::string out = dir_ + "/args";
  auto child = processes.Start(
      "/bin/sh -c \"printf '[%s]' \\\"$@\\\" > " + out + "\" sh \"a b\" \"\" c\\\"d", false,
      &error);
  ASSERT_TRUE(child);
  child->WaitForExit();
  std::string bytes;
  files_.ReadFile(out, &bytes);
  EXPECT_EQ(bytes, "[a b][][c\"d]");
}

TEST(PosixLocaleTest, TagFromTheLocaleEnvironment) {
  struct Case {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    const char* language;
    const char* country;
  };
  const Case cases[] = {
      {"", "", "de_CH.UTF-8", "de", "CH"},
      {"ja_JP.UTF-8", "", "de_DE", "ja", "JP"},
      {"", "fr_FR@euro", "de_DE", "fr", "FR"},
      {"", "", "C", "en", "US"},
      {"", "", "", "en", "US"},
      {"POSIX", "", "", "en", "US"},
  };
  PosixSystem system;
  for (const Case& c : cases) {
    setenv("LC_ALL", c.lc_all, 1);
    setenv("LC_MESSAGES", c.lc_messages, 1);
    setenv("LANG", c.lang, 1);
    std::string language, country;
    system.UserLocale(&language, &country);
    EXPECT_EQ(language, c.language) << c.lang;
    EXPECT_EQ(country, c.country) << c.lang;
  }
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  unsetenv("LANG");
}

}  // namespace
}  // namespace zorvex::platform
