// The exit-status contract of the README, held to the code: each row of its table is
// produced by a run of the built launcher on each target, and every status a scenario
// produces has its row. A row added without a scenario, or a scenario ending with a
// status the table lacks, fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "blackbox/harness.h"
#include "launcher/exit_status.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

// The first two cells of each row between the table's markers: Windows, POSIX.
std::map<std::string, std::string> ContractRows() {
  std::ifstream in(std::string(ZORVEX_SOURCE_DIR) + "/README.md");
  std::map<std::string, std::string> rows;
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.find("exit-status-table:begin") != std::string::npos) inside = true;
    if (line.find("exit-status-table:end") != std::string::npos) break;
    if (!inside || line.rfind("| ", 0) != 0 || line.rfind("| Windows", 0) == 0) continue;
    size_t a = line.find(" | ", 2), b = line.find(" | ", a + 3);
    rows[line.substr(2, a - 2)] = line.substr(a + 3, b - a - 3);
  }
  return rows;
}

// The statuses the code names are the table's, on Windows and as POSIX passes them on.
TEST(StatusContract, NamedStatusesAreTheTablesRows) {
  const std::map<std::string, std::string> rows = ContractRows();
  for (const auto& [status, posix] :
       std::vector<std::pair<int64_t, int>>{{kExitNoCatalogue, 1},
                                            {kExitRunEnded, 255},
                                            {kExitNoParameterFile, 254},
                                            {kExitJavaStillRunning, 3}}) {
    auto row = rows.find(std::to_string(status));
    ASSERT_NE(row, rows.end()) << "the README has no row for " << status;
    EXPECT_EQ(row->second, std::to_string(posix)) << status;
    EXPECT_EQ(static_cast<int>(static_cast<uint32_t>(status) & 0xFF), posix) << status;
  }
}

class StatusContractTest : public ::testing::TestWithParam<Target> {
 protected:
  StatusContractTest() : medium_(GetParam()) {}
  bool windows() const { return GetParam().windows; }
  std::string M(const std::string& path) const { return medium_.TargetPath(path); }
  Medium medium_;
};

TEST_P(StatusContractTest, EveryRowIsWhatARunEndsWith) {
  struct Scenario {
    int windows, posix;  // the low 8 bits on both, as the harness sees them
    std::function<RunResult()> run;
  };
  const std::vector<std::string> silent = {"-silent", "-noconsole"};
  const std::string sep(1, medium_.Sep());
  std::map<std::string, Scenario> scenarios;
  scenarios["0"] = {0, 0, [&] {
                      medium_.WriteParamFile("");
                      return medium_.Run(silent, {{"ZORVEX_FAKE_JAVA_EXIT", "0"}});
                    }};
  scenarios["259"] = {259 & 0xFF, 3, [&] {
                        medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
                        return medium_.Run(silent, {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "1500"}});
                      }};
  scenarios["Java's status"] = {42, 42, [&] {
                                  medium_.WriteParamFile("");
                                  return medium_.Run(silent, {{"ZORVEX_FAKE_JAVA_EXIT", "42"}});
                                }};
  scenarios["-1"] = {
      255, 255, [&] {
        // A bootstrap that may not ask for the runtime it lacks starts nothing:
        // a failure, never a success.
        medium_.WriteParamFile("BOOTSTRAP=TRUE\nJRE_LOCATION=\nDISABLE_JRE_PROMPT=TRUE\n");
        RunResult none = medium_.Run({"-silent"});
        EXPECT_EQ(none.status, 255) << none.out << none.err;
        EXPECT_TRUE(medium_.JavaRuns().empty());
        medium_.WriteParamFile("\n[Generic Prereqs]\nCPU=999999999\n");
        return medium_.Run(silent);
      }};
  scenarios["-2"] = {254, 254, [&] {
                       fs::remove(medium_.medium_dir + "/zorparam.ini");
                       return medium_.Run(silent);
                     }};
  scenarios["206"] = {206, 7, [&] {
                        // Beyond 32,767 characters on Windows, beyond the argument space
                        // (2 MiB and more) on POSIX.
                        const int words = windows() ? 700 : 50000;
                        std::string options;
                        for (int i = 0; i < words; ++i)
                          options += "-Dzorvex.padding" + std::to_string(i) +
                                     "=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx ";
                        medium_.WriteParamFile("JRE_MEMORY_OPTIONS=" + options + "\n");
                        return medium_.Run(silent);
                      }};
  scenarios["system error"] = {
      193, 13, [&] {
        // A Java program that is no program (Windows) or may not be
        // run (POSIX).
        const std::string jre = medium_.root + "/brokenjre";
        const std::string java = jre + "/bin/" + (windows() ? "javaw.exe" : "java");
        fs::create_directories(jre + "/bin");
        std::ofstream(java) << "not a program";
        fs::permissions(java, fs::perms::owner_read | fs::perms::owner_write);
        medium_.WriteParamFile("JRE_LOCATION=" + M(jre) + "\n");
        return medium_.Run(silent);
      }};
  scenarios["1"] = {1, 1, [&] {  // last: the catalogues go
                      medium_.WriteParamFile("");
                      medium_.RemoveCatalogues();
                      return medium_.Run(silent);
                    }};
  const std::map<std::string, std::string> rows = ContractRows();
  std::set<std::string> row_keys, scenario_keys;
  for (const auto& [key, posix] : rows) row_keys.insert(key);
  for (const auto& [key, s] : scenarios) scenario_keys.insert(key);
  EXPECT_EQ(row_keys, scenario_keys) << "the README's table and this test's scenarios";
  for (const auto& [key, s] : scenarios) {
    if (key == "1") continue;
    SCOPED_TRACE(key);
    RunResult r = s.run();
    EXPECT_EQ(r.status, windows() ? s.windows : s.posix) << r.out << r.err;
    auto row = rows.find(key);
    if (row != rows.end() && !windows() &&
        std::isdigit(static_cast<unsigned char>(row->second[0]))) {
      EXPECT_EQ(row->second, std::to_string(s.posix));  // the POSIX column says the same
    }
  }
  RunResult r = scenarios["1"].run();
  EXPECT_EQ(r.status, 1) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Targets, StatusContractTest, ::testing::ValuesIn(BuiltTargets()),
                         TargetName);

}  // namespace
}  // namespace zorvex::blackbox
