// The Ansible role of deploy/ansible with the real engine against this machine
// (-i localhost, -c local) and the demo medium: a silent install with the real JVM, a run
// whose prerequisites fail (the play fails with the launcher's status, and its log comes
// back), and check mode, which runs nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "blackbox/harness.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

class AnsibleRoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v ansible-playbook >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "ansible-playbook is not installed (scripts/install-deps.sh installs it)";
    }
    fs::remove_all(dir_);
    fs::create_directories(dir_ + "/registry/HKEY_LOCAL_MACHINE/SOFTWARE");
    fs::create_directories(dir_ + "/temp");
    std::string make = std::string("bash '") + ZORVEX_SOURCE_DIR +
                       "/scripts/make-demo-medium.sh' '" + NativeBuild() + "' '" + dir_ +
                       "/medium' >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
  }
  // Runs the role's playbook with the extra variables; the exit status and the output.
  int Play(const std::string& extra, std::string* out, const std::string& flags = "") {
    const std::string env_vars = "{\"zorvex_environment\": {\"ZORVEX_REGISTRY\": \"" + dir_ +
                                 "/registry\", \"TEMP\": \"" + dir_ + "/temp\"}}";
    std::string command = "cd '" + dir_ + "' && ANSIBLE_ROLES_PATH='" + ZORVEX_SOURCE_DIR +
                          "/deploy/ansible/roles' ANSIBLE_NOCOLOR=1 ansible-playbook " + flags +
                          " -i localhost, -c local '" + ZORVEX_SOURCE_DIR +
                          "/deploy/ansible/deploy.yml' -e ansible_become=false -e '" + env_vars +
                          "' -e zorvex_log_dest='" + dir_ + "/logs' -e zorvex_remote_media='" +
                          dir_ + "/host' " + extra + " > '" + dir_ + "/play.txt' 2>&1";
    int status = std::system(command.c_str());
    *out = Slurp(dir_ + "/play.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string dir_ = NativeBuild() + "/blackbox-ansible";
};

TEST_F(AnsibleRoleTest, InstallsRefusesAndChecks) {
  std::string out;
  const std::string medium = "-e zorvex_medium_src='" + dir_ + "/medium'";
  EXPECT_EQ(Play(medium, &out), 0) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("localhost +: ok=\\d+ +changed=1 .*failed=0")))
      << out;
  EXPECT_TRUE(fs::exists(dir_ + "/host/medium/Disk1/setup"));

  // The same medium on the host, with a prerequisite it cannot meet.
  const std::string param = dir_ + "/host/medium/Disk1/zorparam.ini";
  std::string text = Slurp(param);
  text = std::regex_replace(text, std::regex("\\[Generic Prereqs\\]\nCPU=\\d+"),
                            "[Generic Prereqs]\nCPU=999999999");
  std::ofstream(param) << text;
  // Hand-edited, as the medium of a launcher that carries no manifest may be.
  fs::copy_file(NativeBuild() + "/setup", dir_ + "/host/medium/Disk1/setup",
                fs::copy_options::overwrite_existing);
  EXPECT_NE(Play("-e zorvex_medium_dir='" + dir_ + "/host/medium'", &out), 0) << out;
  EXPECT_NE(out.find("The installer ended with status 255 (prerequisites refused)"),
            std::string::npos)
      << out;
  bool fetched = false;
  for (const auto& e : fs::directory_iterator(dir_ + "/logs/localhost")) {
    fetched |= Slurp(e.path()).find("prerequisite") != std::string::npos;
  }
  EXPECT_TRUE(fetched) << "no install log came back";
  for (const auto& e : fs::directory_iterator(dir_ + "/logs/localhost")) {
    EXPECT_EQ(fs::status(e.path()).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none)
        << e.path();
  }

  // Check mode tells what it would run and runs nothing.
  fs::remove_all(dir_ + "/host");
  EXPECT_EQ(Play(medium, &out, "--check"), 0) << out;
  EXPECT_NE(out.find("Would run: " + dir_ + "/host/medium/Disk1/setup -silent -waitForCompletion"),
            std::string::npos)
      << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("localhost +: ok=\\d+ +changed=0 ")));
  EXPECT_FALSE(fs::exists(dir_ + "/host"));
}

// The launcher's output names the log to fetch, but what it names is not trusted: a file
// elsewhere, one that is not there, one of another name never comes back, and the status
// is reported all the same. Variables that would change what a path means are refused
// before anything is copied.
TEST_F(AnsibleRoleTest, FetchesOnlyTheRunsLogAndRefusesOddVariables) {
  const std::string fake = dir_ + "/fake";
  fs::create_directories(fake + "/Disk1");
  fs::create_directories(dir_ + "/elsewhere");
  std::ofstream(dir_ + "/elsewhere/installActionsX.log") << "not the run's";
  std::ofstream(dir_ + "/temp/notes.txt") << "not a log";
  std::ofstream(fake + "/Disk1/setup")
      << "#!/bin/sh\nfor a; do case $a in LOG=*) log=${a#LOG=};; esac; done\n"
         "echo \"The installation did not succeed; its install log is kept as $log\"\nexit 1\n";
  fs::permissions(fake + "/Disk1/setup", fs::perms(0755));
  std::string out;
  for (const std::string& named :
       {dir_ + "/elsewhere/installActionsX.log", dir_ + "/temp/installActionsGone.log",
        dir_ + "/temp/notes.txt", dir_ + "/temp/../elsewhere/installActionsX.log"}) {
    SCOPED_TRACE(named);
    fs::remove_all(dir_ + "/logs");
    EXPECT_NE(Play("-e zorvex_medium_dir='" + fake + "' -e '{\"zorvex_assignments\": {\"LOG\": \"" +
                       named + "\"}}'",
                   &out),
              0);
    EXPECT_NE(out.find("The installer ended with status 1 (failure)"), std::string::npos) << out;
    EXPECT_NE(out.find("could not be fetched"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir_ + "/logs/localhost")) << out;
  }
  fs::remove_all(dir_ + "/host");
  for (const std::string& bad :
       {std::string("/"), dir_ + "/medium/..", std::string("medium"), dir_ + "/elsewhere"}) {
    SCOPED_TRACE(bad);
    EXPECT_NE(Play("-e zorvex_medium_src='" + bad + "'", &out, "--check"), 0) << out;
    EXPECT_NE(out.find("zorvex_medium_src " + bad), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir_ + "/host"));
  }
  EXPECT_NE(
      Play("-e zorvex_medium_dir='" + fake + "' -e '{\"zorvex_assignments\": {\"A=B\": \"x\"}}'",
           &out, "--check"),
      0);
  EXPECT_NE(out.find("zorvex_assignments: A=B is no NAME"), std::string::npos) << out;
}

}  // namespace
}  // namespace zorvex::blackbox
