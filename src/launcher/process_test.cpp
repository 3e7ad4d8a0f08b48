#include "launcher/process.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "inventory/logs.h"
#include "options/option_state.h"

namespace zorvex {
namespace {

class ProcessTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    AddCatalogue("cons.nls", {{"S_ZEK", "T"},
                              {"S_TOTAL_ARGS", "total %d\n"},
                              {"S_CMDLINE_ARG_ELTS", "elements:\n"},
                              {"S_JVMLOADMSG", "loading %s"},
                              {"S_ENTER_ENTER", "press enter"},
                              {"S_ERGOSLST", "%s error %d\n"}});
    LoadCatalogues();
    files_.AddDir("C:\\S");
  }
  void TearDown() override { inventory::CloseLog(); }
  const std::vector<std::string> list_ = {"\"C:\\j\\java.exe\" ", "-cp", "x y"};
};

TEST_F(ProcessTest, JoinArgumentsFollowsEachElementWithABlank) {
  EXPECT_EQ(JoinArguments(list_, true), "\"C:\\j\\java.exe\"  -cp x y ");
  EXPECT_EQ(JoinArguments({}, false), "");
  EXPECT_EQ(console_.printed, "");  // no dump without DEBUG
}

TEST_F(ProcessTest, WaitedChildGivesItsExitCode) {
  processes_.exit_code = 3;
  EXPECT_EQ(CreateZEKProcess(list_, true), 3u);
  ASSERT_EQ(processes_.started.size(), 1u);
  EXPECT_EQ(processes_.started[0], "\"C:\\j\\java.exe\"  -cp x y ");
  EXPECT_FALSE(processes_.hidden[0]);
  EXPECT_EQ(processes_.waits, 1);
}

TEST_F(ProcessTest, ChildNotWaitedForIsStillActive) {
  processes_.exit_code = 3;
  EXPECT_EQ(CreateZEKProcess(list_, false), kStillActive);
  EXPECT_EQ(processes_.waits, 0);
}

TEST_F(ProcessTest, FailedWaitEndsWithItsErrorCode) {
  processes_.wait_error = 6;
  EXPECT_EQ(CreateZEKProcess(list_, true), 6u);
}

TEST_F(ProcessTest, StartFailureShowsTheErrorAndPauses) {
  Options().silent = true;
  console_.input = "\n";
  processes_.start_error = 193;
  EXPECT_EQ(CreateZEKProcess(list_, true), 193u);
  // The status as before, then which program and the system's reason.
  EXPECT_EQ(console_.printed,
            "CreateZEKProcess() error 193\nJava (C:\\j\\java.exe) cannot be started: system "
            "error 193.\npress enter");
  EXPECT_EQ(console_.chars_read, 1);
  // Standard input nobody can answer on (a pipe, a console in a service's session): the
  // run ends at once.
  console_.person = false;
  console_.printed.clear();
  CreateZEKProcess(list_, true);
  EXPECT_EQ(console_.printed.find("press enter"), std::string::npos);
  EXPECT_EQ(console_.chars_read, 1);
}

TEST_F(ProcessTest, StartFailureWithDialogsShowsABoxAndDoesNotPause) {
  processes_.start_error = 2;
  CreateZEKProcess(list_, true);
  EXPECT_EQ(console_.boxes,
            (std::vector<std::string>{"T|CreateZEKProcess() error 2\nJava (C:\\j\\java.exe) "
                                      "cannot be started: system error 2.\n"}));
  EXPECT_EQ(console_.chars_read, 0);
}

TEST_F(ProcessTest, DebugRunDumpsAndLogsTheArguments) {
  Options().debug = true;
  inventory::OpenLog("C:\\S", "TS", "installActions");
  inventory::CloseLog();
  CreateZEKProcess(list_, true);
  EXPECT_EQ(console_.printed,
            "-------------------------------------------------------\n"
            "total 3\nelements:\n"
            "Arg:0:\"C:\\j\\java.exe\" :\nArg:1:-cp:\nArg:2:x y:\n"
            "-------------------------------------------------------\n"
            "loading \"C:\\j\\java.exe\" \n");
  EXPECT_EQ(files_.Contents("C:\\S\\installActionsTS.log"),
            "\ntotal 3\nelements:\n\"C:\\j\\java.exe\" \n-cp\nx y\n\n");
}

TEST_F(ProcessTest, RunAndWaitIsHiddenAndSilent) {
  processes_.exit_code = 0;
  EXPECT_EQ(platform::RunAndWait("unzip -o a.jar"), 0u);
  EXPECT_TRUE(processes_.hidden[0]);
  processes_.start_error = 2;
  EXPECT_EQ(platform::RunAndWait("unzip"), 2u);
  EXPECT_TRUE(console_.boxes.empty());
}

}  // namespace
}  // namespace zorvex
