#include "prereq/prereq_driver.h"

#include <gtest/gtest.h>

#include "prereq/prereq_test_support.h"

namespace zorvex::prereq {
namespace {

constexpr char kParamFile[] = "C:\\m\\zorparam.ini";

// Sections of a parameter file for a 6.1 system with 2000 MHz.
constexpr char kCertified61[] = "[Certified Versions]\nWindows=6.0,6.1\n";
constexpr char kGenericPass[] = "[Generic Prereqs]\nCPU=1000\n";
constexpr char kGenericFail[] =
    "[Generic Prereqs]\nCPU=9000\nCPU_FAILURE_MESSAGE=A\nSWAP_SPACE=99999\n"
    "TEMP_SPACE_FAILURE_MESSAGE=B\n";
constexpr char kRequiredFail[] = "[Windows-6.1-required]\nCPU=9000\nCPU_FAILURE_MESSAGE=R\n";
constexpr char kOptionalFail[] = "[Windows-6.1-optional]\nCPU=9000\n";

// What the generic pass of kGenericPass / kGenericFail prints.
constexpr char kGenericPassLines[] = "S_CHECKING_FOR_CPU 1000|S_ACTUAL_CPU 2000|S_SPASSED|";
constexpr char kGenericFailLines[] =
    "S_CHECKING_FOR_CPU 9000|S_ACTUAL_CPU 2000|S_SFAILED|"
    "S_FAIL_CHECKING_FOR_SWAP 2048 99999|S_SFAILED|";
constexpr char kCertifiedLines[] =
    "S_CHECKING_REQ_PREREQ|S_CHECKING_FOR_OS_VERSION|6.0 or 6.1S_ACTUAL 6.1|S_SPASSED_ON_NEWLINE|";
constexpr char kExit[] = "S_EXIT_MSG C:\\T\\installActionsT.log|";

class PrereqDriverTest : public PrereqTest {
 protected:
  struct Case {
    std::string name;
    std::string ini;
    std::string flags;  // s(ilent) n(oconsole) i(gnore) e(xecute) p(latform prereqs)
    std::string input;
    int result;
    std::string printed;
  };
  void Check(const Case& c) {
    SCOPED_TRACE(c.name);
    inventory::CloseLog();
    files_.AddFile(kParamFile, c.ini);
    files_.AddDir("C:\\T");
    console_.printed.clear();
    console_.input = c.input;
    console_.input_pos = 0;
    PrereqRequest r;
    r.param_file = kParamFile;
    r.scratch_dir = "C:\\T";
    r.timestamp = "T";
    r.log_stem = "installActions";
    r.silent = c.flags.find('s') != std::string::npos;
    r.noconsole = c.flags.find('n') != std::string::npos;
    r.ignoresysprereqs = c.flags.find('i') != std::string::npos;
    r.executesysprereqs = c.flags.find('e') != std::string::npos;
    r.platform_prereqs = c.flags.find('p') != std::string::npos;
    EXPECT_EQ(RunPrerequisiteChecks(r), c.result);
    EXPECT_EQ(console_.printed, c.printed);
  }
};

TEST_F(PrereqDriverTest, PassesAndTheirOutcomes) {
  const std::string gp = kGenericPass, gf = kGenericFail, cert = kCertified61;
  const std::string gpl = kGenericPassLines, gfl = kGenericFailLines, cl = kCertifiedLines;
  const std::string exit = kExit;
  const std::string announce = "S_FAILED_PRE_REQ_1|S_FAILED_PRE_REQ_2|\n\n";
  const Case cases[] = {
      {"only the generic pass", gp, "", "", 0, gpl + "\n"},
      {"all passes pass", gp + cert + "[Windows-6.1-optional]\nCPU=1\n", "p", "", 0,
       gpl + cl + "S_PRE_REQREQ_PASSED|S_CHECKING_FOR_CPU 1|S_ACTUAL_CPU 2000|S_SPASSED|\n"},
      {"no certified versions", gp, "p", "", 0, gpl + "S_NO_PREQ_RUN|\n"},
      {"failed generic pass, silent", gf, "s", "", -1, gfl + "\n\nA\n\nB" + announce + exit},
      {"failed generic pass, no console", gf, "n", "y\n", -1, gfl + "\n\nA\n\nB" + announce + exit},
      {"answer yes skips the platform passes", gf + cert + kRequiredFail, "p", "yes\n", 0,
       gfl + "\n\nA\n\nB" + announce + "S_CONTINUE|S_CONTINUE_YES|S_IGNORE_REQ_SYS_PREREQ|"},
      {"an unknown answer asks again", gf, "", "x\n Y\nY\n", 0,
       gfl + "\n\nA\n\nB" + announce + "S_CONTINUE|S_CONTINUE|S_CONTINUE|S_CONTINUE_YES|" +
           "S_IGNORE_REQ_SYS_PREREQ|"},
      {"an empty line is no", gf, "", "\ny\n", -1,
       gfl + "\n\nA\n\nB" + announce + "S_CONTINUE|S_CONTINUE_NO|" + exit},
      {"end of input is no", gf, "", "x\n", -1,
       gfl + "\n\nA\n\nB" + announce + "S_CONTINUE|S_CONTINUE|S_CONTINUE_NO|" + exit},
      {"failed required pass", gp + cert + kRequiredFail, "p", "n\n", -1,
       gpl + cl + "S_CHECKING_FOR_CPU 9000|S_ACTUAL_CPU 2000|S_SFAILED|\n\nR" + announce +
           "S_CONTINUE|S_CONTINUE_NO|" + exit},
      {"failed optional pass without messages", gp + cert + kOptionalFail, "p", "y\n", 0,
       gpl + cl + "S_PRE_REQREQ_PASSED|S_CHECKING_FOR_CPU 9000|S_ACTUAL_CPU 2000|S_SFAILED|" +
           "S_FAILED_OPTIONAL|S_CONTINUE|S_CONTINUE_YES|"},
      {"optional failure message read from the platform sections",
       gp + cert + kOptionalFail + "CPU_FAILURE_MESSAGE=O\n", "p", "y\n", 0,
       gpl + cl + "S_PRE_REQREQ_PASSED|S_CHECKING_FOR_CPU 9000|S_ACTUAL_CPU 2000|S_SFAILED|" +
           "\n\nOS_CONTINUE|S_CONTINUE_YES|"},
      {"ignored failures go on", gf + cert + kRequiredFail + kOptionalFail, "ip", "", 0,
       gfl + "S_IGNORE_REQ_SYS_PREREQ|" + cl +
           "S_CHECKING_FOR_CPU 9000|S_ACTUAL_CPU 2000|S_SFAILED|S_IGNORE_REQ_SYS_PREREQ|" +
           "S_CHECKING_FOR_CPU 9000|S_ACTUAL_CPU 2000|S_SFAILED|S_IGNORE_OPT_SYS_PREREQ|\n"},
      {"ignored patch failure",
       gp + cert + kOptionalFail + "CPU_FAILURE_MESSAGE=S_FAILED_PATCHES_1|", "ip", "", 0,
       gpl + cl + "S_PRE_REQREQ_PASSED|S_CHECKING_FOR_CPU 9000|S_ACTUAL_CPU 2000|S_SFAILED|" +
           "S_IGNORE_PATCH_SYS_PREREQ|\n"},
      {"ignored missing list", gp, "ip", "", 0, gpl + "S_NO_PREQ_RUN|S_IGNORE_REQ_SYS_PREREQ|\n"},
      {"execute only, all passed", gp + cert, "ep", "", -1, gpl + exit + "S_EXIT_CONTINUE|"},
      {"execute only and ignore", gf, "ies", "", -1,
       gfl + "S_IGNORE_REQ_SYS_PREREQ|\n\nA\n\nB" + exit},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(PrereqDriverTest, CertifiedVersionStep) {
  const std::string gp = kGenericPass, exit = kExit;
  const std::string head = "S_CHECKING_REQ_PREREQ|S_CHECKING_FOR_OS_VERSION|";
  const std::string warn = "\n\n\nThe version of this operating system is not certified.\n";
  const std::string ask = "\nDo you want to continue? (y/n) [n]: ";
  const std::string not_listed = "[Certified Versions]\nWindows=5.2,6.0, 6.1\n";
  const std::string uncertified = head + "5.2, 6.0 or  6.1S_ACTUAL 6.1|S_SFAILED_ON_NEWLINE|";
  const Case cases[] = {
      {"not certified stops", gp + not_listed + "CERTIFIED_VERSION_FAILURE_MESSAGE=F\n", "p", "",
       -1, kGenericPassLines + uncertified + "\n\nF" + exit + "S_EXIT_CONTINUE|"},
      {"a warning in lower case still stops", gp + not_listed + "CERTIFIED_VERSION_WARN=true\n",
       "ps", "", -1, kGenericPassLines + uncertified + exit},
      {"warning, silent", gp + not_listed + "CERTIFIED_VERSION_WARN=TRUE\n", "ps", "", -1,
       kGenericPassLines + uncertified + warn + exit},
      {"warning answered yes: no platform section is checked",
       gp + not_listed + "CERTIFIED_VERSION_WARN=TRUE\nCERTIFIED_VERSION_LOCATION=L\n" +
           "[Windows-6.1-optional]\nCPU=9000\n",
       "p", "maybe\ny\n", 0,
       kGenericPassLines + uncertified + "\n\n" +
           "\nThe version of this operating system is not certified.Check 'L' for a list of "
           "certified versions.\n" +
           ask + ask +
           "The user has verified that the product can be installed on this platform. "
           "Continuing with the install...\nS_PRE_REQREQ_PASSED|\n"},
      {"warning, end of input", gp + not_listed + "CERTIFIED_VERSION_WARN=TRUE\n", "p", "", -1,
       kGenericPassLines + uncertified + warn + ask +
           "The user has verified that the product cannot be installed on this platform. "
           "Quitting the install...\n" +
           exit + "S_EXIT_CONTINUE|"},
      {"ignored: the pass fails and nothing else is checked",
       gp + not_listed + "[Windows-6.1-required]\nCPU=1\n", "pi", "", 0,
       kGenericPassLines + uncertified + "S_IGNORE_REQ_SYS_PREREQ|\n"},
  };
  for (const Case& c : cases) Check(c);
}

// The failure messages of checks that run only in the generic pass come from "Generic
// Prereqs"; a check's message in a platform section still serves it, as before.
TEST_F(PrereqDriverTest, GenericFailureMessagesAndTheirOrder) {
  system_.bits_per_pixel = 8;
  Check({"generic messages",
         std::string(kGenericFail) + "MIN_DISPLAY_COLORS=1000\n" +
             "MIN_DISPLAY_COLORS_FAILURE_MESSAGE=C\n" + "[]\nCPU_FAILURE_MESSAGE=E\n",
         "n", "", -1,
         std::string(kGenericFailLines) +
             "S_CHECKING_FOR_DISP_COL 1000|S_HIGHER_THAN 1000|S_ACTUAL 256|S_SFAILED|\n\nA\n\nB" +
             "\n\nCS_FAILED_PRE_REQ_1|S_FAILED_PRE_REQ_2|\n\n" + kExit});
  // Silent runs skip the display check; a failure message in a platform section serves a
  // generic check that has none of its own.
  Check({"platform message",
         "[Generic Prereqs]\nMIN_DISPLAY_COLORS=1000\nCPU=9000\n[]\nCPU_FAILURE_MESSAGE=E\n", "s",
         "", -1,
         "S_CHECKING_FOR_CPU 9000|S_ACTUAL_CPU 2000|S_SFAILED|\n\nES_FAILED_PRE_REQ_1|"
         "S_FAILED_PRE_REQ_2|\n\n" +
             std::string(kExit)});
}

TEST_F(PrereqDriverTest, LongMessagesAreKeptWhole) {
  std::string big(5000, 'm');
  Check({"long",
         "[Generic Prereqs]\nCPU=9000\nCPU_FAILURE_MESSAGE=" + big + "\nSWAP_SPACE=99999\n" +
             "TEMP_SPACE_FAILURE_MESSAGE=" + big + "\n",
         "s", "", -1,
         std::string(kGenericFailLines) + "\n\n" + big + "\n\n" + big +
             "S_FAILED_PRE_REQ_1|S_FAILED_PRE_REQ_2|\n\n" + kExit});
}

// The install log holds the run's lines, but not the console's blank lines; the
// certified-version prompt is logged each time it is asked.
TEST_F(PrereqDriverTest, InstallLogLines) {
  const std::string ask = "\nDo you want to continue? (y/n) [n]: ";
  const std::string lines =
      std::string(kGenericPassLines) +
      "S_CHECKING_REQ_PREREQ|S_CHECKING_FOR_OS_VERSION|5.0S_ACTUAL 6.1|S_SFAILED_ON_NEWLINE|";
  const std::string rest =
      "\nThe version of this operating system is not certified.\n" + ask + ask +
      "The user has verified that the product can be installed on this platform. Continuing "
      "with the install...\nS_PRE_REQREQ_PASSED|\n";
  Check({"log",
         std::string(kGenericPass) + "[Certified Versions]\nWindows=5.0\n" +
             "CERTIFIED_VERSION_WARN=TRUE\n",
         "p", "x\ny\n", 0, lines + "\n\n" + rest});
  EXPECT_EQ(files_.Contents("C:\\T\\installActionsT.log"), lines + rest);
}

TEST_F(PrereqDriverTest, UnreadableParameterFile) {
  PrereqRequest r;
  r.param_file = "C:\\missing.ini";
  r.scratch_dir = "C:\\T";
  files_.AddDir("C:\\T");
  r.timestamp = "T";
  r.platform_prereqs = true;
  EXPECT_EQ(RunPrerequisiteChecks(r), 0);
  EXPECT_EQ(console_.printed, "S_NO_PREQ_RUN|\n");
}

}  // namespace
}  // namespace zorvex::prereq
