// The system prerequisite checks that the parameter file declares, and what happens when
// one fails: a question to the user, or the end of the run.
#pragma once

#include <string>

namespace zorvex::prereq {

struct PrereqRequest {
  std::string param_file;
  std::string scratch_dir;  // fallback directory of the install log
  std::string timestamp;
  std::string log_stem;
  bool silent = false;
  bool executesysprereqs = false;
  bool ignoresysprereqs = false;
  bool noconsole = false;
  bool platform_prereqs = false;
};

// Runs the passes. 0 when the installation may go on; kExitRunEnded when the run must end
// with that status (the run sequence ends it at once). The install log is closed when it returns.
int RunPrerequisiteChecks(const PrereqRequest& request);

}  // namespace zorvex::prereq
