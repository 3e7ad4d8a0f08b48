// Black-box tests of the prerequisite checks: the built launchers measure the machine
// they run on (natively, and under Wine for setup.exe) against parameter files made here.
#include <gtest/gtest.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "blackbox/harness.h"

namespace zorvex::blackbox {
namespace {

// The version the launcher of the target sees, as "major.minor", and its service-pack name.
void SystemVersion(const Target& target, std::string* version, std::string* service_pack) {
  if (!target.windows) {
    utsname name;
    uname(&name);
    unsigned major = 0, minor = 0;
    std::sscanf(name.release, "%u.%u", &major, &minor);
    *version = std::to_string(major) + "." + std::to_string(minor);
    service_pack->clear();
    return;
  }
  std::string command = "WINEPREFIX='" + NativeBuild() +
                        "/blackbox-wineprefix' WINEDEBUG=-all /usr/lib/wine/wine64 '" +
                        target.tests_dir + "/winver.exe'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char line[256];
  *version = fgets(line, sizeof line, pipe.get()) ? line : "";
  *service_pack = fgets(line, sizeof line, pipe.get()) ? line : "";
  for (std::string* s : {version, service_pack}) {
    while (!s->empty() && (s->back() == '\n' || s->back() == '\r')) s->pop_back();
  }
}

bool MachineHasSwap() {
  struct sysinfo si;
  return sysinfo(&si) == 0 && si.totalswap > 0;
}

struct Row {
  std::string name;
  std::vector<std::string> args;
  std::string ini;
  int status;
  std::vector<std::string> shown;   // in this order, in the output and in the install log
  std::vector<std::string> absent;  // nowhere in the output
};

bool InOrder(const std::string& text, const std::vector<std::string>& parts) {
  size_t at = 0;
  for (const std::string& p : parts) {
    at = text.find(p, at);
    if (at == std::string::npos) return false;
    at += p.size();
  }
  return true;
}

class PrereqLauncherTest : public ::testing::TestWithParam<Target> {
 protected:
  PrereqLauncherTest() : medium_(GetParam()) {}
  void SetUp() override {
    inventory_ = medium_.root + "/inventory";
    medium_.SetRegistryValue("SOFTWARE\\ZORVEX", "inst_loc", medium_.TargetPath(inventory_));
    SystemVersion(GetParam(), &version_, &service_pack_);
  }
  void TearDown() override { medium_.DeleteRegistryKey("SOFTWARE\\ZORVEX"); }
  bool windows() const { return GetParam().windows; }
  std::string Os() const { return windows() ? "Windows" : "Linux"; }
  std::string Log() { return medium_.ReadFile(inventory_ + "/logs/installActionsT.log"); }
  void Clear() {
    std::remove((inventory_ + "/logs/installActionsT.log").c_str());
    std::remove(medium_.record_file.c_str());
  }
  // Runs the launcher on the row's parameter file; the row's lines must be shown and
  // logged in order, and Java must have started exactly when the run went on.
  void CheckRow(const Row& row) {
    SCOPED_TRACE(row.name);
    Clear();
    medium_.WriteParamFile(row.ini);
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"-rtimestamp", "T"});
    RunResult r = medium_.Run(args);
    EXPECT_EQ(r.status, row.status) << r.out << r.err;
    EXPECT_TRUE(InOrder(Log(), row.shown)) << Log();
    EXPECT_EQ(medium_.JavaRuns().size(), row.status == 0 ? 1u : 0u);
    // setup.exe writes to a console of its own unless -noconsole.
    if (windows() && args[0] != "-noconsole") return;
    EXPECT_TRUE(InOrder(r.out, row.shown)) << r.out;
    for (const std::string& a : row.absent) EXPECT_EQ(r.out.find(a), std::string::npos) << a;
  }
  Medium medium_;
  std::string inventory_;
  std::string version_;
  std::string service_pack_;
};

const char kSlow[] = "[Generic Prereqs]\nCPU=10000000\nCPU_FAILURE_MESSAGE=Too slow.\n";
const char kCpuLine[] = "Checking the processor clock: must be at least ";
const char kStops[] = "The installer stops here.";
const char kIgnored[] = "Required prerequisite checks failed; they are ignored as asked.";

TEST_P(PrereqLauncherTest, GenericChecksOnThisMachine) {
  const std::vector<Row> rows = {
      {"passes",
       {"-noconsole"},
       "[Generic Prereqs]\nCPU=1\n",
       0,
       {kCpuLine, "1 MHz", "Passed\n"},
       {}},
      {"fails",
       {"-noconsole"},
       kSlow,
       255,
       {kCpuLine, "10000000 MHz", "Failed <<<<", "Too slow.", "Some required prerequisite", kStops},
       {"Do you want to continue"}},
      {"fails silently", {"-silent"}, kSlow, 255, {"Failed <<<<", "Too slow.", kStops}, {}},
      {"ignored",
       {"-noconsole", "-ignoreSysPrereqs"},
       kSlow,
       0,
       {"Failed <<<<", kIgnored},
       {"Too slow.", kStops}},
      {"execute only",
       {"-noconsole", "-executeSysPrereqs"},
       "[Generic Prereqs]\nCPU=1\n",
       255,
       {"Passed\n", kStops},
       {}},
      {"execute only, ignored",
       {"-noconsole", "-ignoreSysPrereqs", "-executeSysPrereqs"},
       kSlow,
       255,
       {"Failed <<<<", kIgnored, "Too slow.", kStops},
       {}},
  };
  for (const Row& row : rows) CheckRow(row);
}

// The continue prompt reads its answer from standard input, which the launcher's own
// console replaces on Windows: there it is answered at a terminal (below).
TEST_P(PrereqLauncherTest, ContinuePromptAnswers) {
  if (windows()) GTEST_SKIP() << "setup.exe reads its answers from its console";
  medium_.WriteParamFile(kSlow);
  const struct {
    const char* input;
    int status;
    size_t prompts;
  } rows[] = {{"y\n", 0, 1},  {"yes\n", 0, 1},  {"n\n", 255, 1},
              {"\n", 255, 1}, {"x\ny\n", 0, 2}, {"", 255, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("input: ") + row.input);
    RunResult r = medium_.Run({"-rtimestamp", "T"}, {}, row.input);
    EXPECT_EQ(r.status, row.status) << r.out;
    size_t prompts = 0;
    for (size_t at = r.out.find("(y/n) [n]:"); at != std::string::npos;
         at = r.out.find("(y/n) [n]:", at + 1)) {
      ++prompts;
    }
    EXPECT_EQ(prompts, row.prompts) << r.out;
    EXPECT_NE(r.out.find(row.status == 0 ? "You chose to continue" : "You chose not to continue"),
              std::string::npos)
        << r.out;
  }
}

TEST_P(PrereqLauncherTest, PromptAtATerminal) {
  medium_.WriteParamFile(kSlow);
  RunResult r = medium_.RunInTerminal({"-rtimestamp", "T"}, {},
                                      {{"(y/n) [n]:", "x\n"}, {"(y/n) [n]:", "yes\n"}});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(InOrder(r.out, {"Too slow.", "(y/n) [n]:", "(y/n) [n]:", "You chose to continue"}))
      << r.out;
  EXPECT_TRUE(InOrder(Log(), {"Too slow.", "You chose to continue", kIgnored})) << Log();
  EXPECT_EQ(medium_.JavaRuns().size(), 1u);
}

TEST_P(PrereqLauncherTest, CertifiedVersionsOfThisSystem) {
  ASSERT_FALSE(version_.empty());
  const std::string platform = "PLATFORM_PREREQS=TRUE\n";
  const std::string required = "[" + Os() + "-" + version_ + "-required]\nCPU=1\n";
  const std::string optional = "[" + Os() + "-" + version_ + "-optional]\nCPU=10000000\n";
  const std::string uncertified = "[Certified Versions]\n" + Os() + "=1.0,99.9\n" +
                                  "CERTIFIED_VERSION_FAILURE_MESSAGE=Not for this system.\n";
  const std::string warning = "The version of this operating system is not certified.";
  const std::vector<Row> rows = {
      {"certified",
       {"-noconsole"},
       platform + "[Certified Versions]\n" + Os() + "=1.0," + version_ + "\n" + required,
       0,
       {"Checking the operating system version: must be 1.0 or " + version_, "Actual: " + version_,
        "Passed", kCpuLine, "Passed", "All required prerequisite checks passed."},
       {}},
      {"certified, optional failure",
       {"-noconsole"},
       platform + "[Certified Versions]\n" + Os() + "=" + version_ + "\n" + required + optional,
       255,
       {"All required prerequisite checks passed.", "Failed <<<<", "Some optional", kStops},
       {}},
      {"not certified",
       {"-noconsole"},
       platform + uncertified + required,
       255,
       {"must be 1.0 or 99.9", "Actual: " + version_, "Failed <<<<", "Not for this system.",
        kStops},
       {kCpuLine, warning}},
      {"not certified, a warning, silent",
       {"-silent"},
       platform + uncertified + "CERTIFIED_VERSION_WARN=TRUE\n",
       255,
       {"Not for this system.", warning, kStops},
       {"(y/n)"}},
      {"not certified, ignored",
       {"-noconsole", "-ignoreSysPrereqs"},
       platform + uncertified + required,
       0,
       {"Not for this system.", kIgnored},
       {kCpuLine}},
      {"no certified versions",
       {"-noconsole"},
       platform + required,
       0,
       {"No certified system versions are declared"},
       {kCpuLine, "All required"}},
  };
  for (const Row& row : rows) CheckRow(row);
  if (windows()) return;
  // The warning's own question, answered on standard input.
  medium_.WriteParamFile(platform + uncertified + "CERTIFIED_VERSION_WARN=TRUE\n");
  RunResult r = medium_.Run({"-rtimestamp", "T"}, {}, "yes\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(InOrder(
      r.out, {warning, "Do you want to continue? (y/n) [n]: ", "Continuing with the install..."}))
      << r.out;
}

// What the probes read: the service pack, the colour depth and the paging space of the
// system the launcher runs on.
TEST_P(PrereqLauncherTest, SystemProbes) {
  medium_.WriteParamFile("[Generic Prereqs]\nSERVICE_PACK=0\nMIN_DISPLAY_COLORS=3\nSWAP_SPACE=1\n");
  RunResult r = medium_.Run({"-noconsole", "-ignoreSysPrereqs", "-rtimestamp", "T"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string sp = service_pack_.empty() ? "none" : service_pack_;
  EXPECT_NE(r.out.find("Checking the service pack: must be 0.\nActual: " + sp + "\n" +
                       (service_pack_.empty() ? "Failed" : "Passed")),
            std::string::npos)
      << r.out;
  // Wine's display is 32 bits deep; a Linux machine without a frame buffer reports 0.
  bool frame_buffer = std::ifstream("/sys/class/graphics/fb0/bits_per_pixel").good();
  if (windows() || !frame_buffer) {
    EXPECT_NE(r.out.find(windows() ? "Actual: 4294967296\nPassed" : "Actual: 1.000000\nFailed"),
              std::string::npos)
        << r.out;
  }
  // Windows always has paging space to report; a Linux machine only with swap.
  bool swap = windows() || MachineHasSwap();
  EXPECT_NE(r.out.find(swap ? "Checking the paging space: must be at least 1 MB."
                            : "Checking the paging space: 0 MB found, 1 MB needed."),
            std::string::npos)
      << r.out;
}

INSTANTIATE_TEST_SUITE_P(Targets, PrereqLauncherTest, ::testing::ValuesIn(BuiltTargets()),
                         TargetName);

}  // namespace
}  // namespace zorvex::blackbox
