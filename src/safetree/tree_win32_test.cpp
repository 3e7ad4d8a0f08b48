// The Windows tree on a real file system (under Wine here): entries are made, named and
// removed through handles. (Wine resolves a name below a handle by the path the handle was
// opened with, and follows Unix links even where a reparse point is asked for; it cannot
// make a junction. So a directory swapped for a junction midway cannot be staged here; on
// Windows the names are resolved below the handle itself.)
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "safetree/held_win32.h"
#include "safetree/tree.h"
#include "safetree/win32_text.h"
// After windows.h, which it builds on.
#include <aclapi.h>
#include <sddl.h>

namespace zorvex::safetree {
namespace {

namespace fs = std::filesystem;

class Win32TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zorvex_tree_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

// A file is written beside its name and named when complete, through its own handle; an
// uncommitted one goes through that handle too, leaving nothing beside its name.
TEST_F(Win32TreeTest, FilesAreNamedAndDroppedThroughTheirHandles) {
  std::string error;
  std::unique_ptr<Tree> tree = OpenTree(root_.string(), false, &error);
  ASSERT_TRUE(tree) << error;
  ASSERT_TRUE(tree->MakeDirectory("a", &error)) << error;
  std::unique_ptr<TreeFile> file = tree->NewFile("a/x.txt", false, &error);
  ASSERT_TRUE(file) << error;
  ASSERT_TRUE(file->Write(reinterpret_cast<const uint8_t*>("run"), 3));
  EXPECT_FALSE(fs::exists(root_ / "a" / "x.txt"));
  bool exists = false;
  EXPECT_TRUE(file->Commit(0, true, &exists, &error)) << error;
  EXPECT_EQ(fs::file_size(root_ / "a" / "x.txt"), 3u);
  file = tree->NewFile("a/x.txt", false, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_FALSE(file->Commit(0, false, &exists, &error));
  EXPECT_TRUE(exists);  // taken, and not to be replaced
  file = tree->NewFile("a/y.txt", false, &error);
  ASSERT_TRUE(file) << error;
  file.reset();
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "a"), fs::directory_iterator()), 1);
  // What the tree makes carries an access list of its own for the user, SYSTEM and the
  // Administrators (Wine shows it as read back from the Unix mode it made of it): no other
  // user in, whatever the folder passes on.
  for (const fs::path& made : {root_ / "a", root_ / "a" / "x.txt"}) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(
        GetNamedSecurityInfoW(made.wstring().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor),
        static_cast<DWORD>(ERROR_SUCCESS))
        << made;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
      wchar_t* text = nullptr;
      ConvertSidToStringSidW(&ace->SidStart, &text);
      const std::wstring sid = text != nullptr ? text : L"";
      LocalFree(text);
      for (const wchar_t* other : {L"S-1-1-0", L"S-1-5-32-545", L"S-1-5-11"}) {
        EXPECT_NE(sid, other) << made;  // Everyone, Users, Authenticated Users
      }
    }
    LocalFree(descriptor);
  }
}

// A held root: removed only while its name still leads to it.
TEST_F(Win32TreeTest, HeldRootGoesOnlyAsItself) {
  fs::create_directories(root_ / "held" / "x");
  std::string error, why;
  std::unique_ptr<Tree> tree = HoldTree((root_ / "held").string(), &error);
  ASSERT_TRUE(tree) << error;
  // Held, it cannot be renamed from Windows.
  EXPECT_FALSE(MoveFileW((root_ / "held").wstring().c_str(), (root_ / "moved").wstring().c_str()));
  std::vector<std::string> left;
  tree->Remove("x", &left);
  EXPECT_TRUE(left.empty());
  EXPECT_TRUE(tree->RemoveRoot((root_ / "held").string(), &why)) << why;
  EXPECT_FALSE(fs::exists(root_ / "held"));
  // A root opened without holding it can be moved meanwhile: what stands at its name then
  // is another directory, and it stays, as does the one moved.
  fs::create_directories(root_ / "open");
  tree = OpenTree((root_ / "open").string(), false, &error);
  ASSERT_TRUE(tree) << error;
  ASSERT_TRUE(MoveFileW((root_ / "open").wstring().c_str(), (root_ / "moved").wstring().c_str()));
  fs::create_directories(root_ / "open");
  EXPECT_FALSE(tree->RemoveRoot((root_ / "open").string(), &why));
  EXPECT_NE(why.find("moved or replaced"), std::string::npos) << why;
  EXPECT_TRUE(fs::exists(root_ / "open"));
  EXPECT_TRUE(fs::exists(root_ / "moved"));
}

// A file another process holds without letting others delete it (a scanner looking at what
// was just written) is waited for: one let go within the wait goes with its directory; one
// held longer is named as left, after about two seconds, not at once and not for ever.
TEST_F(Win32TreeTest, RemovalWaitsForAHolderThatLetsGo) {
  for (int hold_ms : {400, 4000}) {
    SCOPED_TRACE(hold_ms);
    fs::create_directories(root_ / "run" / "jre");
    std::ofstream(root_ / "run" / "jre" / "java.exe") << "fresh";
    HANDLE held =
        CreateFileW((root_ / "run" / "jre" / "java.exe").wstring().c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread holder([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
      CloseHandle(held);
    });
    std::string error;
    std::unique_ptr<Tree> tree = OpenTree(root_.string(), false, &error);
    ASSERT_TRUE(tree) << error;
    std::vector<std::string> left;
    const auto start = std::chrono::steady_clock::now();
    tree->Remove("run", &left);
    const auto waited = std::chrono::steady_clock::now() - start;
    holder.join();
    if (hold_ms < 1000) {
      EXPECT_TRUE(left.empty()) << left[0];
      EXPECT_FALSE(fs::exists(root_ / "run"));
    } else {
      ASSERT_FALSE(left.empty());
      EXPECT_NE(left[0].find("java.exe"), std::string::npos) << left[0];
      EXPECT_GE(waited, std::chrono::milliseconds(1500));
      EXPECT_LT(waited, std::chrono::milliseconds(hold_ms));
      fs::remove_all(root_ / "run");
    }
  }
}

}  // namespace
}  // namespace zorvex::safetree
