#include "bootstrap/bootstrap_driver.h"

#include <gtest/gtest.h>

#include "bootstrap/version.h"
#include "doubles/platform_test.h"
#include "inventory/logs.h"
#include "options/option_state.h"

namespace zorvex::bootstrap {
namespace {

TEST(VersionTest, NewerVersions) {
  struct Case {
    const char* current;
    const char* candidate;
    bool newer;
  };
  const Case cases[] = {
      {"1.2", "1.2.1", true},
      {"1.0", "1.0.0", true},
      {"9.9", "11.2", true},
      {"1.0a", "1.0b", true},
      {"1.0B", "1.0b", false},
      {"1.0b", "1.0B", false},
      {"11.2", "9.9", false},
      {"1.2.1", "1.2", false},
      {"0.0.0.0.0", ".", false},
      {"0.0.0.0.0", "..", false},
      {"0.0.0.0.0", "patch1", false},
      {"1.2.3.4.5", "1.2.3.4.5.6", true},     // a sixth component makes it newer
      {"1.2.3.4.5.6", "1.2.3.4.5.7", false},  // but sixth components are not compared
      {"", "1", true},
      {"1", "", false},
      {"1,5", "1.6", true},
      {"99999999999", "1", false},  // too large for 32 bits: the largest value
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsNewerVersion(c.current, c.candidate, 5), c.newer)
        << c.current << " -> " << c.candidate;
  }
  int32_t v = 0;
  EXPECT_TRUE(ParseVersionNumber("  42  ", &v));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(ParseVersionNumber("4 2", &v));
  EXPECT_FALSE(ParseVersionNumber("2147483648", &v));
}

class BootstrapDriverTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    files_.AddDir("C:\\T\\Z");
    Options().timestamp = "T";
    st_.distribution = "T";
    request_.target_dir = "C:\\T\\Z";
    request_.startup_location = "C:\\My Media\\Disk1";
    request_.settings = &st_;
    request_.jre_location = &jre_;
    request_.prereq_config_location = &prereq_;
    files_.cwd = "C:\\My Media\\Disk1";
    files_.AddDir("C:\\My Media\\stage\\Components");
    for (const char* v : {"10.2.0.1.0", "11.1.0.6.0", "1.0b"}) {
      files_.AddFile(std::string("C:\\My Media\\stage\\Components\\zorvex.swd.zek\\") + v +
                     "\\1\\DataFiles\\a.jar");
    }
  }
  void TearDown() override { inventory::CloseLog(); }
  std::string Log() { return files_.Contents("C:\\T\\Z\\installActionsT.log"); }
  config::Settings st_;
  std::string jre_, prereq_;
  BootstrapRequest request_;
};

// The unzip's command line holds whatever a path holds: blanks, a trailing separator, a
// double quote; the archive argument stays one wildcard.
TEST_F(BootstrapDriverTest, UnzipCommandLinesAreQuoted) {
  inventory::OpenLog("C:\\T\\Z", "T", "installActions");
  EXPECT_TRUE(UnzipJars("..\\stage\\a \"b\"", "C:\\T\\Z\\", "C:\\My Media\\Disk1"));
  ASSERT_EQ(processes_.started.size(), 1u);
  EXPECT_EQ(processes_.started[0],
            "\"C:\\My Media\\Disk1\\unzip\" -qqqo \"..\\stage\\a \\\"b\\\"/*.jar\" -d "
            "\"C:\\T\\Z\\\\\" ");
  EXPECT_TRUE(processes_.hidden[0]);
  EXPECT_NE(Log().find(processes_.started[0]), std::string::npos);
  processes_.exit_code = 9;
  EXPECT_FALSE(UnzipJars("C:\\src", "C:\\T\\Z", "C:\\M"));  // and says why, source or not
  EXPECT_NE(Log().find("S_UNZIP_FAILED"), std::string::npos);
}

// Piece digests go to the unzip while all of them together fit the command line; an
// archive past that is checked by its whole digest, and every archive is listed.
TEST(ListedArchiveArgumentsTest, PiecesWithinOneBudgetForTheCommandLine) {
  auto archive = [](size_t pieces) {
    manifest::Entry e;
    e.size = pieces * manifest::kChunkBytes;
    e.chunks.assign(pieces, manifest::Sha256Digest{});
    return e;
  };
  const manifest::Entry small = archive(0), three = archive(3), most = archive(200),
                        too_many = archive(kMaxChunksOnTheCommandLine + 1);
  struct Row {
    std::vector<std::pair<std::string, const manifest::Entry*>> listed;
    std::vector<std::string> pieces_of;
  };
  for (const Row& row : std::vector<Row>{
           {{{"a.jar", &small}, {"b.jar", &three}}, {"b.jar"}},
           {{{"a.jar", &too_many}, {"b.jar", &three}}, {"b.jar"}},
           {{{"a.jar", &most}, {"b.jar", &most}, {"c.jar", &three}}, {"a.jar", "c.jar"}}}) {
    const std::string arguments = ListedArchiveArguments(row.listed);
    std::vector<std::string> pieces_of;
    for (const auto& [name, entry] : row.listed) {
      EXPECT_NE(arguments.find("--sha256 \"" + name + ":"), std::string::npos) << arguments;
      if (arguments.find("--chunks \"" + name + ":") != std::string::npos)
        pieces_of.push_back(name);
    }
    EXPECT_EQ(pieces_of, row.pieces_of);
  }
}

TEST_F(BootstrapDriverTest, HighestVersionAndComponentList) {
  const char sep = '\\';
  EXPECT_EQ(FindHighestVersion(std::string("..") + sep + "stage" + sep + "Components" + sep +
                               "zorvex.swd.zek" + sep),
            "11.1.0.6.0");
  // Entries that would lead out of the components root are skipped too.
  const std::vector<std::string> outward = {"..\\..\\elsewhere:9", "C:\\abs", "zorvex.swd.zek:..",
                                            "zorvex.swd.zek:1/../../x", "..:1"};
  st_.bootstrap_comps = {"zorvex.swd.zek", ":", "zorvex.swd.zek:10.2.0.1.0"};
  st_.bootstrap_comps.insert(st_.bootstrap_comps.end(), outward.begin(), outward.end());
  EXPECT_EQ(BootstrapFiles(request_), 0);
  // Both entries unpack the installer; the later one named its version. An entry without
  // a name is passed over, and the log says so.
  ASSERT_EQ(processes_.started.size(), 1u);
  EXPECT_NE(processes_.started[0].find("zorvex.swd.zek\\10.2.0.1.0\\1\\DataFiles/*.jar"),
            std::string::npos);
  EXPECT_NE(Log().find("\":\" names no component"), std::string::npos);
  for (const std::string& entry : outward) {
    EXPECT_NE(Log().find("\"" + entry + "\" is no plain component name and version: skipped"),
              std::string::npos)
        << entry;
  }
  EXPECT_EQ(st_.zek_location, "C:\\T\\Z\\zek");
}

// A staging that takes more than a second shows its progress on a console a person
// watches, rewriting one line; never in silent runs or redirected output, never in the log.
TEST_F(BootstrapDriverTest, ProgressOnlyWhereSomeoneWatches) {
  system_.tick_step = 600;
  console_.have_output = true;
  st_.bootstrap_comps = {"zorvex.swd.zek"};
  for (bool interactive : {false, true}) {
    console_.printed.clear();
    console_.interactive = interactive;
    EXPECT_EQ(BootstrapFiles(request_), 0);
    bool shown = console_.printed.find("\r  zorvex.swd.zek: 0 of 0 files") != std::string::npos;
    EXPECT_EQ(shown, interactive) << console_.printed;
    EXPECT_EQ(console_.printed.empty(), !interactive);  // and the line is cleared at the end
  }
  Options().silent = true;
  console_.printed.clear();
  EXPECT_EQ(BootstrapFiles(request_), 0);
  EXPECT_EQ(console_.printed, "");
  EXPECT_EQ(Log().find("\r"), std::string::npos);
}

TEST_F(BootstrapDriverTest, TooLittleSpaceSaysWhy) {
  request_.size_kb = int64_t{1} << 40;
  EXPECT_EQ(BootstrapFiles(request_), kBootstrapFailed);
  EXPECT_TRUE(processes_.started.empty());
  EXPECT_NE(Log().find("There is not enough free space in "), std::string::npos) << Log();
  EXPECT_NE(Log().find("S_NUMBER_OF_FILES_BOOTSTRAPPED"), std::string::npos);  // still counted
}

}  // namespace
}  // namespace zorvex::bootstrap
