#include "inventory/logs.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "options/option_state.h"

namespace zorvex::inventory {
namespace {

class LogsTest : public testing::PlatformTest {
 protected:
  // The fallback is the run's scratch directory, which the run made before any log.
  void SetUp() override { files_.AddDir("C:\\S"); }
  void TearDown() override {
    CloseLog();
    CloseTimeLog();
  }
  const std::string ts_ = "2010-03-12_02-05-09PM";
};

TEST_F(LogsTest, LogDirectoryChoice) {
  struct Case {
    const char* name;
    const char* prereqlogloc;
    std::vector<std::tuple<const char*, const char*, const char*>> registry;  // key, name, value
    const char* install_log;
    const char* time_log;
  };
  const Case cases[] = {
      {"no inventory: the scratch directory", "", {}, "C:\\S\\installActions", "C:\\S\\time"},
      {"inst_loc",
       "",
       {{kInventoryKey, "inst_loc", "C:\\Inventory"}},
       "C:\\Inventory\\logs\\installActions",
       "C:\\Inventory\\logs\\time"},
      {"PREREQLOGLOC for the install log only",
       "D:\\plogs",
       {{kInventoryKey, "inst_loc", "C:\\Inventory"}},
       "D:\\plogs\\logs\\installActions",
       "C:\\Inventory\\logs\\time"},
      {"32-bit key only when the first key is absent",
       "",
       {{kInventoryKey32, "inst_loc", "C:\\Inv32"}},
       "C:\\Inv32\\logs\\installActions",
       "C:\\Inv32\\logs\\time"},
      {"first key without the value hides the 32-bit key",
       "",
       {{kInventoryKey, "other", "x"}, {kInventoryKey32, "inst_loc", "C:\\Inv32"}},
       "C:\\S\\installActions",
       "C:\\S\\time"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registry_ = testing::FakeRegistry();
    fake_.NewRun();
    for (const auto& [key, name, value] : c.registry) registry_.SetValue(key, name, value);
    Options().prereqlogloc = c.prereqlogloc;
    OpenLog("C:\\S", ts_, "installActions");
    OpenTimeLog("C:\\S", ts_);
    EXPECT_EQ(InstallLogPath(), std::string(c.install_log) + ts_ + ".log");
    WriteTimeLog("t");
    EXPECT_TRUE(files_.HasFile(std::string(c.time_log) + ts_ + ".log"));
    CloseLog();
    CloseTimeLog();
    // The next case is another run, which would not take these names again.
    files_.RemoveFile(InstallLogPath());
    files_.RemoveFile(std::string(c.time_log) + ts_ + ".log");
  }
}

TEST_F(LogsTest, OpeningsAppendAndClosedLogsDropWrites) {
  OpenLog("C:\\S", ts_, "Cleanup");
  WriteLog("one");
  CloseLog();
  WriteLog("dropped");
  OpenLog("C:\\S", ts_, "Cleanup");
  WriteLog("two\n");
  EXPECT_EQ(files_.Contents("C:\\S\\Cleanup" + ts_ + ".log"), "onetwo\n");
  EXPECT_EQ(InstallLogPath(), "C:\\S\\Cleanup" + ts_ + ".log");
}

// A file of someone else's at the log's name (another run's of the same second, a user's
// namesake) is never appended to: the log takes the next free suffix, and keeps it.
TEST_F(LogsTest, NameTakenByAnotherFileGivesTheNextSuffix) {
  files_.AddFile("C:\\S\\installActions" + ts_ + ".log", "mine");
  files_.AddFile("C:\\S\\installActions" + ts_ + "_1.log", "theirs");
  OpenLog("C:\\S", ts_, "installActions");
  WriteLog("one");
  CloseLog();
  OpenLog("C:\\S", ts_, "installActions");
  WriteLog("two");
  EXPECT_EQ(InstallLogPath(), "C:\\S\\installActions" + ts_ + "_2.log");
  EXPECT_EQ(files_.Contents(InstallLogPath()), "onetwo");
  EXPECT_EQ(files_.Contents("C:\\S\\installActions" + ts_ + ".log"), "mine");
  EXPECT_TRUE(IsRunLog(InstallLogPath()));
  EXPECT_FALSE(IsRunLog("C:\\S\\installActions" + ts_ + ".log"));
}

TEST_F(LogsTest, UnusableDirectoryKeepsAnOpenLogOrClearsThePath) {
  files_.AddDir("C:\\ro");
  files_.read_only.insert("C:\\ro");
  OpenLog("C:\\ro", ts_, "installActions");
  EXPECT_EQ(InstallLogPath(), "");
  WriteLog("nowhere");
  OpenLog("C:\\S", ts_, "installActions");
  OpenLog("C:\\ro", ts_, "installActions");
  WriteLog("kept");
  EXPECT_EQ(files_.Contents("C:\\S\\installActions" + ts_ + ".log"), "kept");
}

TEST_F(LogsTest, RegistryProbeCreatesAndRemovesItsTraces) {
  registry_.AddKey("Software");
  EXPECT_TRUE(ProbeRegistryWriteAccess());
  EXPECT_FALSE(registry_.HasKey("Software\\zorvex_zek_tmp"));
  std::string value;
  EXPECT_EQ(registry_.ReadValue("Software", "zorvex_zek_tmp", &value),
            platform::Registry::ReadResult::kNoValue);
}

TEST_F(LogsTest, RegistryProbeFailsAtTheFirstFailingStep) {
  registry_.AddKey("Software");
  registry_.write_denied = true;
  EXPECT_FALSE(ProbeRegistryWriteAccess());
  registry_.write_denied = false;
  registry_.create_key_fails = true;
  EXPECT_FALSE(ProbeRegistryWriteAccess());
  // The value set before the key failed is gone again.
  std::string value;
  EXPECT_NE(registry_.ReadValue("Software", "zorvex_zek_tmp", &value),
            platform::Registry::ReadResult::kOk);
}

}  // namespace
}  // namespace zorvex::inventory
