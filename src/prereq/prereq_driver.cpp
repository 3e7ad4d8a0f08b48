#include "prereq/prereq_driver.h"

#include "inventory/logs.h"

namespace zorvex::prereq {

// STAND-IN until the prerequisite engine is built: no check runs, so every pass counts as
// passed; the run ends the checks as a passing generic pass does.
int RunPrerequisiteChecks(const PrereqRequest& request) {
  inventory::OpenLog(request.scratch_dir, request.timestamp, request.log_stem);
  inventory::PrintAndLog("\n");
  inventory::CloseLog();
  return 0;
}

}  // namespace zorvex::prereq
