// The POSIX tree on a real file system: links, modes and a racing process.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "safetree/tree.h"

namespace zorvex::safetree {
namespace {

namespace fs = std::filesystem;

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("zorvex_tree_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "outside");
    std::ofstream(root_ / "outside" / "precious.txt") << "keep";
  }
  void TearDown() override { fs::remove_all(root_); }
  bool CanLink() {
    std::error_code ec;
    fs::create_directory_symlink(root_ / "outside", root_ / "probe", ec);
    fs::remove(root_ / "probe", ec);
    return !ec;
  }
  fs::path root_;
};

// The same race made certain: the directory is swapped for a link exactly between the
// removal's look at it and its opening. The link goes as a link; what it points at stays.
TEST_F(TreeTest, RemovalOpensNoDirectorySwappedForALinkAtTheLastMoment) {
  if (!CanLink()) GTEST_SKIP() << "no links can be made here";
  const fs::path tree = root_ / "tree";
  fs::create_directories(tree / "a");
  std::ofstream(tree / "a" / "f.txt") << "run";
  std::string error;
  std::unique_ptr<Tree> parent = OpenTree(root_.string(), false, &error);
  ASSERT_TRUE(parent) << error;
  SetRemovalPause([&](const std::string& shown) {
    if (!shown.ends_with("/a")) return;
    fs::rename(tree / "a", root_ / "moved");
    fs::create_directory_symlink(root_ / "outside", tree / "a");
  });
  std::vector<std::string> left;
  parent->Remove("tree", &left);
  SetRemovalPause(nullptr);
  EXPECT_TRUE(fs::exists(root_ / "outside" / "precious.txt"));
  EXPECT_TRUE(fs::exists(root_ / "moved" / "f.txt"));
  EXPECT_FALSE(fs::exists(tree));
}

// A held root: its identity, and its removal only while its name still leads to it.
TEST_F(TreeTest, HeldRootIsRemovedOnlyWhereItStillIs) {
  const fs::path held = root_ / "held";
  fs::create_directories(held / "x");
  std::string error, why;
  std::unique_ptr<Tree> tree = HoldTree(held.string(), &error);
  ASSERT_TRUE(tree) << error;
  std::vector<std::string> left;
  tree->Remove("x", &left);
  fs::rename(held, root_ / "moved");
  fs::create_directory(held);
  EXPECT_FALSE(tree->RemoveRoot(held.string(), &why));
  EXPECT_NE(why.find("moved or replaced"), std::string::npos) << why;
  EXPECT_TRUE(fs::exists(held));
  fs::remove(held);
  fs::rename(root_ / "moved", held);
  tree = HoldTree(held.string(), &error);
  ASSERT_TRUE(tree) << error;
  EXPECT_TRUE(tree->RemoveRoot(held.string(), &why)) << why;
  EXPECT_FALSE(fs::exists(held));
  if (CanLink()) {
    fs::create_directory_symlink(root_ / "outside", held);
    EXPECT_EQ(HoldTree(held.string(), &error), nullptr);  // a link is never a held root
  }
}

// Another process swaps a directory of the tree for a link to a directory outside, again
// and again, while the tree is removed: nothing outside is ever removed or changed.
TEST_F(TreeTest, RemovalFollowsNoDirectorySwappedForALink) {
  if (!CanLink()) GTEST_SKIP() << "no links can be made here";
  const fs::path tree = root_ / "tree";
  std::string error;
  std::unique_ptr<Tree> parent = OpenTree(root_.string(), false, &error);
  ASSERT_TRUE(parent) << error;
  for (int round = 0; round < 200; ++round) {
    fs::create_directories(tree / "a" / "sub");
    std::ofstream(tree / "a" / "sub" / "f.txt") << "run";
    fs::permissions(tree / "a" / "sub" / "f.txt", fs::perms::owner_read);
    std::atomic<bool> done{false};
    std::thread swapper([&] {
      std::error_code ec;
      while (!done) {
        fs::rename(tree / "a", root_ / "moved", ec);
        if (!ec) fs::create_directory_symlink(root_ / "outside", tree / "a", ec);
      }
    });
    std::vector<std::string> left;
    parent->Remove("tree", &left);
    done = true;
    swapper.join();
    std::error_code ec;
    fs::remove_all(root_ / "moved", ec);
    fs::remove_all(tree, ec);
    ASSERT_TRUE(fs::exists(root_ / "outside" / "precious.txt")) << "round " << round;
  }
  std::ifstream in(root_ / "outside" / "precious.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
}

// A directory of the tree swapped for a link to another directory of the tree, again and
// again, while files are written below it: no file ever lands in the other directory, not
// even between the tree's look at a name and its opening of the path.
TEST_F(TreeTest, WritesFollowNoDirectorySwappedForALink) {
  if (!CanLink()) GTEST_SKIP() << "no links can be made here";
  const fs::path top = root_ / "tree";
  fs::create_directories(top / "d" / "sub");
  fs::create_directories(top / "real" / "sub");
  std::string error;
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    std::error_code ec;
    while (!done) {
      fs::rename(top / "d", top / "gone", ec);
      if (ec) continue;
      fs::create_directory_symlink("real", top / "d", ec);
      std::this_thread::yield();
      fs::remove(top / "d", ec);
      fs::rename(top / "gone", top / "d", ec);
    }
  });
  for (int i = 0; i < 3000; ++i) {
    // A tree opened afresh each time: a tree keeps the directories it has opened.
    std::unique_ptr<Tree> tree = OpenTree(top.string(), false, &error);
    ASSERT_TRUE(tree) << error;
    std::unique_ptr<TreeFile> file = tree->NewFile("d/sub/f" + std::to_string(i), false, &error);
    if (!file) continue;
    bool exists = false;
    if (file->Write(reinterpret_cast<const uint8_t*>("x"), 1))
      file->Commit(0, true, &exists, &error);
  }
  done = true;
  swapper.join();
  EXPECT_TRUE(fs::is_empty(top / "real" / "sub"));
}

// The run's own tree goes whole, read-only files and directories its owner cannot enter
// included; a link in it goes as a link.
TEST_F(TreeTest, RemovalTakesReadOnlyEntriesAndLinksAsThemselves) {
  const fs::path tree = root_ / "tree";
  fs::create_directories(tree / "ro" / "deep");
  std::ofstream(tree / "ro" / "deep" / "f.txt") << "x";
  fs::permissions(tree / "ro" / "deep" / "f.txt", fs::perms::owner_read);
  const bool links = CanLink();
  if (links) fs::create_directory_symlink(root_ / "outside", tree / "ro" / "out");
  fs::permissions(tree / "ro", fs::perms::owner_read | fs::perms::owner_exec);
  std::string error;
  std::unique_ptr<Tree> parent = OpenTree(root_.string(), false, &error);
  ASSERT_TRUE(parent) << error;
  std::vector<std::string> left;
  parent->Remove("tree", &left);
  EXPECT_TRUE(left.empty()) << left.front();
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_TRUE(fs::exists(root_ / "outside" / "precious.txt"));
}

}  // namespace
}  // namespace zorvex::safetree
