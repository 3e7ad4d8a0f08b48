// The Win32 platform layer against Windows (Wine in the test runs), in a temporary
// directory and a registry key of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/command_line.h"
#include "platform/profile_string.h"
#include "platform/win32/win32.h"
// After win32.h, which brings in <windows.h> that the shell header builds on.
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

namespace zorvex::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> ShellSplit(const std::string& line) {
  std::wstring wide(line.begin(), line.end());  // the cases are ASCII
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(wide.c_str(), &count);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) {
    std::wstring a = argv[i];
    args.emplace_back(a.begin(), a.end());
  }
  LocalFree(argv);
  return args;
}

// A directory made for the owner alone (the scratch directory) lets in the user, SYSTEM
// and the Administrators, and inherits nothing from a shared parent. Wine keeps no access
// lists of its own (it shows one made from the Unix mode), so the list asked for is checked
// as text, and the one read back for letting no other user in.
TEST(Win32FilesTest, OwnerOnlyDirectoryKeepsOthersOut) {
  const std::string sddl = OwnerOnlySddl();
  EXPECT_EQ(sddl.rfind("D:P(A;OICI;FA;;;S-1-5-", 0), 0u) << sddl;
  EXPECT_TRUE(sddl.ends_with(")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")) << sddl;
  Win32FileSystem files;
  const std::string dir = (fs::temp_directory_path() / "zorvex_private_test").string();
  RemoveDirectoryA(dir.c_str());
  ASSERT_EQ(files.MakeDir(dir, true), FileSystem::MakeDirResult::kCreated);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(dir.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &sd),
            ERROR_SUCCESS);
  ASSERT_NE(dacl, nullptr);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    char* text = nullptr;
    ConvertSidToStringSidA(&ace->SidStart, &text);
    const std::string sid = text != nullptr ? text : "";
    LocalFree(text);
    EXPECT_NE(sid, "S-1-1-0");       // Everyone
    EXPECT_NE(sid, "S-1-5-32-545");  // Users
    EXPECT_NE(sid, "S-1-5-11");      // Authenticated Users
  }
  LocalFree(sd);
  RemoveDirectoryA(dir.c_str());
}

// The POSIX launcher reads the parameter file's main section with the launcher's own
// profile reader; here it must give what the Windows call gives for the same file.
TEST(Win32ProfileTest, PosixReaderAgreesWithGetPrivateProfileString) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::vector<std::string> texts = {
      "[Zorvex]\nKEY=first\n[Other]\nX=1\n[Zorvex]\nKEY=second\nONLY2=two\n",
      bom + "[Zorvex]\nKEY=bom\n",
      bom + "KEY=top\n[Zorvex]\nKEY=v\n",
      "[zorvex]\r\n  key  =  spaced value  \r\nKEY=again\r\n",
      "[ Zorvex ]\nKEY=padded name\n",
      "[Zorvex] trailing\nKEY=after junk\n",
      "[Zorvex\nKEY=no bracket\n",
      "[Zorvex]\n; KEY=comment\n# KEY=hash\nKEY=v ; not a comment\n",
      "[Zorvex]\nKEY=\"  quoted  \"\nONLY2='single'\n",
      "[Zorvex]\nKEY=\"half\n",
      "[Zorvex]\nKEY\nKEY=after bare\n",
      "[Zorvex]\nKEY=\nONLY2=x\n",
      "[Zorvex]\n=empty name\nKEY=v\n",
      "[Zorvex]\nKEY = a = b\n",
      "[Zorvex]\n\tKEY\t=\ttabbed\t\n",
      "[Zorvex]\nKEY=caf\xC3\xA9\n",
      "  [Zorvex]  \nKEY=indented header\n",
      "[Zorvex]\n[Zorvex]\nKEY=empty first\n",
  };
  const fs::path file = fs::temp_directory_path() / "zorvex_profile_test.ini";
  int n = 0;
  for (const std::string& text : texts) {
    SCOPED_TRACE("case " + std::to_string(n++) + ": " + text);
    std::ofstream(file, std::ios::binary) << text;
    for (const char* key : {"KEY", "ONLY2"}) {
      char buffer[256] = {0};
      GetPrivateProfileStringA("Zorvex", key, "default", buffer, sizeof buffer,
                               file.string().c_str());
      EXPECT_EQ(ReadProfileString(text, "Zorvex", key, "default"), std::string(buffer)) << key;
    }
  }
  fs::remove(file);
}

TEST(Win32CommandLineTest, QuotingRoundTripsThroughCommandLineToArgvW) {
  const std::vector<std::string> args = {"C:\\Program Files\\java.exe",
                                         "plain",
                                         "two words",
                                         "tab\there",
                                         "quote\"inside",
                                         "trailing\\",
                                         "C:\\dir with space\\",
                                         "a\\\\\"b",
                                         "x"};
  std::string line;
  for (const std::string& a : args) line += (line.empty() ? "" : " ") + QuoteWindowsArgument(a);
  EXPECT_EQ(ShellSplit(line), args);
  EXPECT_EQ(SplitWindowsCommandLine(line), args);
}

class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        (fs::temp_directory_path() / ("zorvex-win32-" + std::to_string(GetTickCount()))).string();
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir_, ec)) {
      SetFileAttributesA(e.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
  Win32FileSystem files_;
};

TEST_F(Win32PlatformTest, FilesAndReadOnlyRules) {
  std::ofstream(dir_ + "\\a.txt") << "x";
  EXPECT_TRUE(files_.Exists(dir_ + "\\a.txt"));
  EXPECT_EQ(files_.MakeDir(dir_ + "\\d", true), FileSystem::MakeDirResult::kCreated);
  EXPECT_EQ(files_.MakeDir(dir_ + "\\d", true), FileSystem::MakeDirResult::kAlreadyExists);
  ASSERT_TRUE(files_.CopyFileOverwriting(dir_ + "\\a.txt", dir_ + "\\d\\b.txt"));
  SetFileAttributesA((dir_ + "\\d\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(files_.RemoveFile(dir_ + "\\d\\b.txt"));
  SetFileAttributesA((dir_ + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((dir_ + "\\d\\b.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(files_.CopyFileOverwriting(dir_ + "\\a.txt", dir_ + "\\d\\b.txt"));
  EXPECT_TRUE(files_.RemoveFile(dir_ + "\\d\\b.txt"));  // the copy is not read-only
  SetFileAttributesA((dir_ + "\\a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(files_.ListDirectory(dir_, &entries));
  bool saw_dir = false;
  for (const DirEntry& e : entries) saw_dir |= e.name == "d" && e.is_directory;
  EXPECT_TRUE(saw_dir);
  std::string full;
  ASSERT_TRUE(files_.FullPath(dir_ + "\\d\\..\\a.txt", &full));
  EXPECT_EQ(full, dir_ + "\\a.txt");
}

TEST_F(Win32PlatformTest, RegistryReadsAndProbes) {
  Win32Registry registry;
  const std::string key = "Software\\ZorvexPlatformTest";
  ASSERT_TRUE(registry.CreateKey(key, "test"));
  ASSERT_TRUE(registry.SetStringValue(key, "inst_loc", "C:\\Inventory"));
  std::string value;
  EXPECT_EQ(registry.ReadValue(key, "inst_loc", &value), Registry::ReadResult::kOk);
  EXPECT_EQ(value, "C:\\Inventory");
  EXPECT_EQ(registry.ReadValue(key, "none", &value), Registry::ReadResult::kNoValue);
  EXPECT_TRUE(registry.DeleteValue(key, "inst_loc"));
  EXPECT_TRUE(registry.DeleteKey(key));
  EXPECT_EQ(registry.ReadValue(key, "inst_loc", &value), Registry::ReadResult::kNoKey);
}

// A WM_QUIT posted to the launcher's thread does not end the wait: it goes on until the
// child has ended.
TEST_F(Win32PlatformTest, WaitDropsWmQuitAndWaitsForTheChild) {
  Win32Processes processes;
  uint32_t error = 0;
  auto child = processes.Start("cmd.exe /c ping -n 2 127.0.0.1 >nul & exit 4", true, &error);
  ASSERT_TRUE(child) << error;
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
  EXPECT_EQ(child->WaitForExit(), 0u);
  uint32_t code = 0;
  ASSERT_TRUE(child->ExitCode(&code, &error));
  EXPECT_EQ(code, 4u);
}

TEST_F(Win32PlatformTest, ChildExitCodesAndStartFailures) {
  Win32Processes processes;
  uint32_t error = 0;
  auto child = processes.Start("cmd.exe /c exit 3", true, &error);
  ASSERT_TRUE(child) << error;
  EXPECT_EQ(child->WaitForExit(), 0u);
  uint32_t code = 0;
  ASSERT_TRUE(child->ExitCode(&code, &error));
  EXPECT_EQ(code, 3u);
  std::ofstream(dir_ + "\\fake.exe") << "not a program";
  EXPECT_EQ(processes.Start("\"" + dir_ + "\\fake.exe\"", false, &error), nullptr);
  EXPECT_NE(error, 0u);
}

}  // namespace
}  // namespace zorvex::platform
