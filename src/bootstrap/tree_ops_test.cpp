#include "bootstrap/tree_ops.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "inventory/logs.h"

namespace zorvex::bootstrap {
namespace {

class TreeOpsTest : public testing::PlatformTest {};

TEST_F(TreeOpsTest, CopyTreeMirrorsTheSourceAndOverwrites) {
  files_.AddFile("C:\\src\\a.txt", "new a");
  files_.AddFile("C:\\src\\sub\\b.txt", "b");
  files_.AddDir("C:\\src\\empty");
  files_.AddDir("C:\\src\\only\\dirs");
  files_.AddFile("C:\\dst\\a.txt", "old a");
  files_.AddFile("C:\\dst\\keep.txt", "kept");
  files_.AddFile("C:\\src\\ro.txt", "r");
  files_.read_only.insert("C:\\src\\ro.txt");
  EXPECT_TRUE(CopyTree("C:\\src", "C:\\dst"));
  EXPECT_EQ(files_.Contents("C:\\dst\\a.txt"), "new a");
  EXPECT_EQ(files_.Contents("C:\\dst\\keep.txt"), "kept");
  EXPECT_EQ(files_.Contents("C:\\dst\\sub\\b.txt"), "b");
  EXPECT_TRUE(files_.IsDir("C:\\dst\\empty"));
  EXPECT_TRUE(files_.IsDir("C:\\dst\\only\\dirs"));
  EXPECT_TRUE(files_.CanReadWrite("C:\\dst\\ro.txt"));  // arrives writable
}

TEST_F(TreeOpsTest, CopyTreeStopsAtTheFirstFailedFile) {
  files_.AddFile("C:\\src\\a.txt");
  files_.AddFile("C:\\src\\b.txt");
  files_.copy_fails.insert("C:\\src\\a.txt");
  EXPECT_FALSE(CopyTree("C:\\src", "C:\\dst"));
  EXPECT_FALSE(files_.HasFile("C:\\dst\\b.txt"));
  EXPECT_TRUE(CopyTree("C:\\none", "C:\\dst2"));  // nothing to list: nothing made
  EXPECT_FALSE(files_.IsDir("C:\\dst2"));
  EXPECT_TRUE(CopyTree("", "C:\\dst3"));
}

// The run's own tree goes whole, read-only files included; what cannot go is named.
TEST_F(TreeOpsTest, RemoveTreeOfTheRunTakesReadOnlyFilesAndNamesWhatStays) {
  files_.AddFile("C:\\S\\jre\\legal\\LICENSE");
  files_.AddFile("C:\\S\\jre\\lib\\classes.jsa");
  files_.AddFile("C:\\S\\busy.log");
  files_.read_only = {"C:\\S\\jre\\legal\\LICENSE", "C:\\S\\jre\\lib\\classes.jsa",
                      "C:\\S\\jre\\legal"};
  files_.held_open.insert("C:\\S\\busy.log");
  std::vector<std::string> left;
  RemoveTree("C:\\S", &left);
  EXPECT_FALSE(files_.Exists("C:\\S\\jre"));
  EXPECT_EQ(left, std::vector<std::string>{"C:\\S\\busy.log"});
  EXPECT_TRUE(files_.HasFile("C:\\S\\busy.log"));
}

// A link inside a tree may point anywhere, also back into the tree: the walks never
// descend into one, and what it points at stays untouched.
TEST_F(TreeOpsTest, LinksAreNeverFollowed) {
  files_.AddFile("C:\\outside\\precious.txt");
  files_.AddFile("C:\\S\\a.txt");
  files_.AddLink("C:\\S\\to_outside", "C:\\outside");
  files_.AddLink("C:\\S\\sub\\loop", "C:\\S");
  EXPECT_EQ(CountFiles("C:\\S"), 3u);
  EXPECT_TRUE(CopyTree("C:\\S", "C:\\D"));
  EXPECT_TRUE(files_.HasLink("C:\\D\\to_outside"));
  EXPECT_TRUE(files_.HasLink("C:\\D\\sub\\loop"));
  files_.copies_links = false;  // as on Windows: left out, and the log says so
  files_.AddDir("C:\\logs");
  inventory::OpenLog("C:\\logs", "T", "installActions");
  EXPECT_TRUE(CopyTree("C:\\S", "C:\\E"));
  inventory::CloseLog();
  EXPECT_FALSE(files_.Exists("C:\\E\\to_outside"));
  EXPECT_NE(files_.Contents("C:\\logs\\installActionsT.log").find("C:\\S\\to_outside"),
            std::string::npos);
  RemoveTree("C:\\S");
  EXPECT_FALSE(files_.Exists("C:\\S"));
  EXPECT_TRUE(files_.HasFile("C:\\outside\\precious.txt"));
  files_.AddLink("C:\\L", "C:\\outside");
  RemoveTree("C:\\L");
  EXPECT_FALSE(files_.HasLink("C:\\L"));
  EXPECT_TRUE(files_.HasFile("C:\\outside\\precious.txt"));
}

TEST_F(TreeOpsTest, CountFilesCountsEveryLevelButNoDirectories) {
  for (const char* f : {"a", "b", "c", "d\\e", "d\\f"}) files_.AddFile(std::string("C:\\T\\") + f);
  EXPECT_EQ(CountFiles("C:\\T"), 5u);
  EXPECT_EQ(CountFiles("C:\\none"), 0u);
}

}  // namespace
}  // namespace zorvex::bootstrap
