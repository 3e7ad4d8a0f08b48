// One pass of the prerequisite checks declared in the parameter file: the generic pass
// ("Generic Prereqs"), the required pass (the certified-version step, then the platform's
// required section) or the optional pass (the platform's optional section).
#pragma once

#include <string>

namespace zorvex::prereq {

inline constexpr char kGenericSection[] = "Generic Prereqs";
inline constexpr char kCertifiedSection[] = "Certified Versions";

// Pass results. kStopRun: the run must end with status -1; the install log is closed.
inline constexpr int kPassOk = 0;
inline constexpr int kPassFailed = 1;
inline constexpr int kNoCertifiedVersions = 3;
inline constexpr int kStopRun = -1;

// What the driver lends every pass of one run. The section names and the failure text
// outlive a pass: the required pass names the platform sections for the optional one.
struct PassContext {
  std::string param_file;
  bool silent = false;
  bool ignoresysprereqs = false;
  bool noconsole = false;
  bool generic_pass = true;   // 1 in the generic pass only
  bool required_pass = true;  // 1 in the generic and the required pass
  std::string required_section;
  std::string optional_section;
  std::string generic_section;
  std::string failure_text;  // the pass appends "\n\n" and each failed check's message
};

// Runs the pass that the context's flags name. kPassOk also when the file or the section
// cannot be read, or when the user accepted an uncertified version; kPassFailed when a
// check failed (or the version is not certified and failures are ignored);
// kNoCertifiedVersions when the required pass finds no list; kStopRun.
int RunPrerequisitePass(PassContext* context);

// Whether a key of a prerequisite section declares one of the checks, and whether only
// the generic pass runs that check.
bool IsCheckKey(const std::string& key, bool* generic_pass_only);

// Reads one answer line from standard input and looks at its first character: 'y' for
// y or Y; 'n' for n, N, an empty line, or the end of standard input (the default that the
// questions show, so that a question never waits on input that cannot come); 0 for
// anything else, which asks again.
char ReadYesNoAnswer();

}  // namespace zorvex::prereq
