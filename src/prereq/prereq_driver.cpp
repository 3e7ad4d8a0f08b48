#include "prereq/prereq_driver.h"

#include "inventory/logs.h"
#include "launcher/exit_status.h"
#include "messages/catalogue.h"
#include "messages/console.h"
#include "platform/platform.h"
#include "prereq/prereq_engine.h"

namespace zorvex::prereq {

namespace {

int EndTheRun() {
  inventory::ReportMessage("S_EXIT_MSG", {inventory::InstallLogPath()});
  inventory::CloseLog();
  return kExitRunEnded;
}

// -EXECUTESYSPREREQS: the generic pass's failures are shown and the run ends, whatever
// the pass found.
int ExecuteOnlyEnd(const PrereqRequest& r, const PassContext& c) {
  inventory::PrintAndLog(c.failure_text);
  inventory::ReportMessage("S_EXIT_MSG", {inventory::InstallLogPath()});
  inventory::CloseLog();
  if (messages::ConsoleRunWatched(r.silent, r.noconsole)) {
    messages::PrintText(messages::MessageText("S_EXIT_CONTINUE"));
    platform::Os().console->ReadChar();
  }
  return kExitRunEnded;
}

void ReportIgnored(const PassContext& c) {
  if (c.required_pass) {
    inventory::ReportMessage("S_IGNORE_REQ_SYS_PREREQ");
    return;
  }
  const std::string* patches = messages::GetMessageText("S_FAILED_PATCHES_1");
  bool patch_failure = patches != nullptr && c.failure_text.find(*patches) != std::string::npos;
  inventory::ReportMessage(patch_failure ? "S_IGNORE_PATCH_SYS_PREREQ" : "S_IGNORE_OPT_SYS_PREREQ");
}

void AnnounceFailure(const PassContext& c) {
  if (!c.failure_text.empty()) inventory::PrintAndLog(c.failure_text);
  if (c.required_pass) {
    inventory::ReportMessage("S_FAILED_PRE_REQ_1");
    inventory::ReportMessage("S_FAILED_PRE_REQ_2");
    messages::PrintText("\n\n");
  } else if (c.failure_text.empty()) {
    inventory::ReportMessage("S_FAILED_OPTIONAL");
  }
}

// A failed pass: the user decides, unless nobody can be asked. 0 to go on (no further
// pass runs), kExitRunEnded to end the run.
int DecideAfterFailure(const PrereqRequest& r, const PassContext& c) {
  AnnounceFailure(c);
  if (r.silent || r.noconsole) return EndTheRun();
  while (true) {
    inventory::ReportMessage("S_CONTINUE");
    char answer = ReadYesNoAnswer();
    if (answer == 'y') {
      inventory::ReportMessage("S_CONTINUE_YES");
      if (c.required_pass) inventory::ReportMessage("S_IGNORE_REQ_SYS_PREREQ");
      inventory::CloseLog();
      return 0;
    }
    if (answer == 'n') {
      inventory::ReportMessage("S_CONTINUE_NO");
      return EndTheRun();
    }
  }
}

int Finish() {
  inventory::PrintAndLog("\n");
  inventory::CloseLog();
  return 0;
}

}  // namespace

int RunPrerequisiteChecks(const PrereqRequest& r) {
  PassContext c;
  c.param_file = r.param_file;
  c.silent = r.silent;
  c.ignoresysprereqs = r.ignoresysprereqs;
  c.noconsole = r.noconsole;
  inventory::OpenLog(r.scratch_dir, r.timestamp, r.log_stem);
  while (true) {
    c.failure_text.clear();
    int result = RunPrerequisitePass(&c);
    if (result == kStopRun) return kExitRunEnded;
    if (r.ignoresysprereqs) {
      if (result != kPassOk) ReportIgnored(c);
      if (r.executesysprereqs) return ExecuteOnlyEnd(r, c);
    } else if (r.executesysprereqs) {
      return ExecuteOnlyEnd(r, c);
    } else if (result != kPassOk && result != kNoCertifiedVersions) {
      return DecideAfterFailure(r, c);
    }
    if (c.generic_pass) {
      c.generic_pass = false;
      if (!r.platform_prereqs) return Finish();
    } else if (c.required_pass) {
      c.required_pass = false;
      if (result == kPassOk) inventory::ReportMessage("S_PRE_REQREQ_PASSED");
    } else {
      return Finish();
    }
  }
}

}  // namespace zorvex::prereq
