#include "launcher/run_sequence.h"

#include <cstdlib>
#include <optional>
#include <set>

#include "access/guard.h"
#include "access/places.h"
#include "bootstrap/bootstrap_driver.h"
#include "bootstrap/jre_location.h"
#include "bootstrap/tree_ops.h"
#include "config/param_file.h"
#include "inventory/logs.h"
#include "launcher/exit_status.h"
#include "launcher/java_command.h"
#include "launcher/options.h"
#include "launcher/process.h"
#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/platform.h"
#include "prereq/prereq_driver.h"
#include "run/run_context.h"

namespace zorvex {

namespace {

constexpr long kMaxBootstrapSize = 2047;

// The working state of one run.
struct Run {
  std::string module_path;  // as the entry took it: the option scan may cut args[0]
  std::vector<std::string> args;
  std::string last_argument_upper;
  std::string startup_location;
  std::string scratch_dir;
  // The scratch directory, held from the moment the run takes it to its end: everything
  // below it is written and removed through this handle, and the directory itself goes only
  // while its name still leads to it. Null before the run has one.
  std::unique_ptr<platform::TreeWriter> scratch;
  // Made by the run (it goes whole at the end), or a directory the user gave, which holds
  // the user's entries: only what the run added goes, told apart by identity.
  bool scratch_made = false;
  std::set<safetree::FileId> scratch_held_before;
  std::set<safetree::FileId> staged;  // what staging made at the top of a given directory
  // The parents of a given directory that the run made, outermost first, with what each is.
  std::vector<std::pair<std::string, safetree::FileId>> made_parents;
  std::string temp_dir;
  config::Settings settings;
  int param_result = 0;
  bool extjre = false;
  bool wait_for_java = false;
  int result = 0;
  std::string java_executable;  // path of the Java program, unquoted
  std::vector<std::string> java_args;
};

// A message of the run as the console says it (the user's language) and as the log keeps
// it (the log's).
struct Said {
  std::string text;
  std::string log;
};
Said SayMessage(const std::string& key, const messages::FormatArgs& args = {}) {
  return {messages::FormatMessageText(key, args), messages::FormatLogMessageText(key, args)};
}
// A text the system composed (a reason it gives), the same in both.
Said SayText(const std::string& text) { return {text, text}; }

void LogLine(const Run& run, const std::string& text);

bool Bootstrapping(const Run& run) { return config::StartsWithT(run.settings.bootstrap); }

void LogRefusedTimestamp(const Run& run) {
  const OptionState& o = Options();
  if (!o.timestamp_refused) return;
  inventory::OpenLog(run.scratch_dir, o.timestamp, o.log_stem);
  inventory::WriteLog("-rtimestamp \"" + *o.timestamp_option +
                      "\" cannot name the scratch directory and the logs; the run uses " +
                      o.timestamp + "\n");
  inventory::CloseLog();
}

// What the user named on the command line is the user's choice: never taken for the
// medium's, and checked as the user's alone where the run writes.
void AddUserChoices() {
  const OptionState& o = Options();
  for (const std::string* path : {&o.param_file, &o.scratch_path, &o.startup_loc, &o.prereqlogloc,
                                  &o.bootstrap_loc, &o.prereq_config_location}) {
    access::AddUserChoice(*path);
  }
  if (o.jreloc_given) access::AddUserChoice(o.jre_location);
}

// Selects the mode; a mode that may not run from a distribution medium refuses to.
bool DistributionCheckFails(Run* run) {
  if (!SelectMode(&run->settings) || !config::StartsWithT(run->settings.distribution)) {
    return false;
  }
  messages::ShowError(
      messages::FormatMessageText("S_ERRORINVOKINGFROMCD", {run->last_argument_upper}));
  return true;
}

// The prerequisite checker needs its configuration. 0, or kExitRunEnded to end the run.
int CheckPrereqCheckerConfig(Run* run) {
  const std::string& location = Options().prereq_config_location;
  if (location.empty()) {
    messages::PrintText(messages::MessageText("S_ERR_PREREQ_CONFIG_LOC"));
    return kExitRunEnded;
  }
  if (!paths::FileExists(location)) {
    platform::Os().console->WriteStdout(
        messages::FormatMessageText("S_ERR_INVALID_PREREQ_CONFIG_LOC", {location}));
    return kExitRunEnded;
  }
  if (!config::StartsWithT(run->settings.distribution)) run->settings.bootstrap = "F";
  return 0;
}

// The start message and the prerequisite checks. 0, or kExitRunEnded to end the run.
int RunPrerequisites(Run* run) {
  const OptionState& o = Options();
  if (!o.bootstraponly) messages::PrintMessage("S_STARTINSTALLERMSG", {o.installer_title});
  config::GetParamValue("PLATFORM_PREREQS", &run->settings.platform_prereqs, "FALSE", o.param_file,
                        config::ReadMode::kWhole);
  prereq::PrereqRequest request;
  request.param_file = o.param_file;
  request.scratch_dir = run->scratch_dir;
  request.timestamp = o.timestamp;
  request.log_stem = o.log_stem;
  request.silent = o.silent;
  request.executesysprereqs = o.executesysprereqs;
  request.ignoresysprereqs = o.ignoresysprereqs;
  request.noconsole = o.noconsole;
  request.platform_prereqs = config::StartsWithT(run->settings.platform_prereqs);
  return prereq::RunPrerequisiteChecks(request);
}

// BOOTSTRAP_SIZE read as atol reads it, kept within long's range.
long BootstrapSize(const std::string& text) {
  long long n = std::strtoll(text.c_str(), nullptr, 10);
  if (n > kMaxBootstrapSize) return kMaxBootstrapSize + 1;
  if (n < 0) return -1;
  return static_cast<long>(n);
}

// Which Java runtime the bootstrap uses; asks the user when none is known. Returns false
// when the run ends here with *status.
bool SettleJavaRuntime(Run* run, int* status) {
  OptionState& o = Options();
  if (o.jreloc_given || !o.jre_location.empty() || !run->settings.jre_scratch_location.empty()) {
    run->extjre = o.jreloc_given;
    return true;
  }
  if (o.noconsole) {
    messages::ShowError(messages::MessageText("S_JRELOC_ERROR_NOCONSOLE_WIN"));
    *status = kExitRunEnded;
    return false;
  }
  if (o.bootstraponly) return true;
  if (!config::IsExactlyTrue(run->settings.disable_jre_prompt)) {
    std::optional<std::string> answer = bootstrap::PromptForJreLocation(run->settings);
    if (!answer) {
      // Standard input ended before an answer: as a run that has no console to ask on.
      messages::ShowError(messages::MessageText("S_JRELOC_ERROR_NOCONSOLE_WIN"));
      *status = kExitRunEnded;
      return false;
    }
    o.jre_location = *answer;
    access::AddUserChoice(o.jre_location);
    run->extjre = true;
    return true;
  }
  // Nothing is installed: a deployment that reads the status must see a failure, as it
  // does when the same run has no console to ask on.
  inventory::OpenLog(run->scratch_dir, o.timestamp, o.log_stem);
  inventory::WriteLog(messages::LogMessageText("S_JRELOC_ERROR_NOCONSOLE_WIN"));
  inventory::CloseLog();
  messages::PrintText("\n\n");
  messages::PrintText(messages::MessageText("S_JRELOC_ERROR_NOCONSOLE_WIN"));
  *status = kExitRunEnded;
  return false;
}

// Stages the installer when BOOTSTRAP_SIZE allows. Returns false when the run ends here
// with *status.
bool Bootstrap(Run* run, int* status) {
  const OptionState& o = Options();
  long size = BootstrapSize(run->settings.bootstrap_size);
  if (size < 0 || size > kMaxBootstrapSize) {
    messages::ShowError(messages::FormatMessageText("S_ERBOOTSTRAP_RANGE", {kMaxBootstrapSize}));
    return true;
  }
  // Staging runs the medium's unzip and then Java from the scratch directory, and Java
  // loads the staged native libraries from there (an external runtime too): on a file
  // system that lets no program run (a TEMP mounted noexec) these fail later with nothing
  // that says why. Asked of the directory the run holds, before anything is staged.
  if (run->scratch && !run->scratch->ProgramsMayRun()) {
    const char* advice = o.bootstraponly && !o.bootstrap_loc.empty() ? "S_NOEXEC_BOOTSTRAP_LOC"
                         : o.scratch_path_given                      ? "S_NOEXEC_SCRATCH"
                                                                     : "S_NOEXEC_TEMP";
    messages::ShowError(messages::FormatMessageText(
        "S_ERNOEXEC", {run->scratch_dir, messages::MessageText(advice)}));
    LogLine(*run, messages::FormatLogMessageText(
                      "S_ERNOEXEC", {run->scratch_dir, messages::LogMessageText(advice)}));
    *status = kExitRunEnded;
    return false;
  }
  if (!o.bootstraponly) {
    messages::PrintText(messages::MessageText("S_BOOTSTRAPMSG") + " " + run->scratch_dir + ". " +
                        messages::MessageText("S_WAITMSG"));
  } else {
    messages::PrintText(messages::MessageText("S_BOOTSTRAPONLYMSG") + "  " +
                        messages::MessageText("S_WAITMSG"));
  }
  platform::Os().console->FlushStdout();
  if (!SettleJavaRuntime(run, status)) return false;
  bootstrap::BootstrapRequest request;
  request.target_dir = run->scratch_dir;
  request.startup_location = run->startup_location;
  request.size_kb = static_cast<int64_t>(size) * 1024;
  request.copy_jre = !run->extjre;
  request.settings = &run->settings;
  request.target = run->scratch.get();
  if (!run->scratch_made) request.held_before = &run->scratch_held_before;
  request.made = &run->staged;
  request.jre_location = &Options().jre_location;
  request.prereq_config_location = &Options().prereq_config_location;
  if (bootstrap::BootstrapFiles(request) == bootstrap::kBootstrapFailed) {
    *status = kExitRunEnded;
    return false;
  }
  return true;
}

// Whether to wait for Java, which Java program, and its argument list.
void PrepareJava(Run* run) {
  const OptionState& o = Options();
  run->wait_for_java = !Bootstrapping(*run) ||
                       config::StartsWithT(run->settings.wait_for_completion) ||
                       o.waitforcompletion || o.cleanup || o.saveinventory;
  run->result = 0;
  if (o.debug) {
    // No library-path value is kept for Java; the line shows that nothing is set.
    messages::PrintText(messages::MessageText("S_LDLIBPATH_VAR"));
    messages::PrintText("\n");
  }
  const platform::PathStyle& style = *platform::Os().style;
  bool console_java =
      o.debug || o.cleanup || o.saveinventory || o.memory || (o.silent && !o.noconsole);
  JavaCommandInputs in;
  in.settings = &run->settings;
  in.executable_name = console_java ? style.java_name : style.javaw_name;
  in.startup_location = run->startup_location;
  in.scratch_dir = run->scratch_dir;
  in.exec_path = run->module_path;
  in.extjre = run->extjre;
  in.arguments = run->args;
  run->java_args = BuildJavaArguments(in);
  const std::string& bin = run->settings.jre_bin_location;
  run->java_executable =
      bin.empty() ? in.executable_name : bin + paths::Separator() + in.executable_name;
}

// The temporary directory, where a failed run keeps its log: empty when the run may write
// nothing there (it does not exist, or another user could steer what is written there). No
// fallback stands in for it: a place nobody judged would take the log.
std::string KeepingDirectory() {
  std::string temp;
  paths::GetTempDirectory(&temp);
  if (!paths::TempDirectoryRefusal().empty() || !paths::FileExists(temp)) return "";
  return temp;
}

// After a bootstrap Java runs from the staged copies, in the run's own directory: not on
// the medium, which may be a disc that is changed meanwhile, and not in the shared TEMP,
// where Java would find classes and libraries others put there ("." is on its library
// path).
// TEMP only when it is the user's alone, and said. False (after saying so) when Java can
// start in neither: it would start wherever the launcher happens to be, which is not the
// run's.
bool EnterWorkingDirectory(Run* run) {
  platform::FileSystem& files = *platform::Os().files;
  run->temp_dir = KeepingDirectory();
  if (!Bootstrapping(*run) || files.SetWorkingDirectory(run->scratch_dir)) return true;
  std::string why;
  if (!run->temp_dir.empty() && files.CheckPrivateDirectory(run->temp_dir, &why) &&
      files.SetWorkingDirectory(run->temp_dir)) {
    const Said said = SayMessage("S_JAVA_IN_TEMP", {run->temp_dir, run->scratch_dir});
    messages::PrintText(said.text);
    LogLine(*run, said.log);
    return true;
  }
  // Why TEMP would not do either, in the system's words.
  const std::string reason = why.empty() ? "" : why + "\n";
  const Said said = SayMessage("S_ERJAVA_CWD", {run->scratch_dir});
  messages::ShowError(said.text + reason);
  LogLine(*run, said.log + reason);
  return false;
}

// Makes the missing parents of `path` for the user alone, noting each one made (and what
// it is) so that the end of the run removes it again.
void MakeParents(const std::string& path, Run* run) {
  std::vector<std::string> missing;
  std::string dir;
  paths::StripLastComponent(path, &dir);
  while (!dir.empty() && dir != path && !paths::FileExists(dir)) {
    missing.push_back(dir);
    std::string up;
    paths::StripLastComponent(dir, &up);
    if (up == dir) break;
    dir = up;
  }
  platform::FileSystem& files = *platform::Os().files;
  for (size_t i = missing.size(); i-- > 0;) {
    safetree::FileId id;
    if (files.MakeDir(missing[i], true) != platform::FileSystem::MakeDirResult::kCreated ||
        !files.Identify(missing[i], &id)) {
      return;
    }
    run->made_parents.emplace_back(missing[i], id);
  }
}

// The parents the run made go again when they are empty and still the ones it made,
// innermost first.
void RemoveMadeParents(const Run& run) {
  platform::FileSystem& files = *platform::Os().files;
  for (size_t i = run.made_parents.size(); i-- > 0;) {
    safetree::FileId id;
    const auto& [path, made] = run.made_parents[i];
    if (files.Identify(path, &id) && id == made) files.RemoveDir(path);
  }
}

// A run that ends before it has a scratch directory (a -rscratchPath it cannot use, a
// medium it refuses) says why on the console and, unless `keep_log` is false (a TEMP the run
// refuses), in a log in the temporary directory, where a failed run keeps its log; named
// in English when no catalogue may be shown.
void RefuseBeforeScratch(const Said& said, bool keep_log = true) {
  const OptionState& o = Options();
  const std::string temp = KeepingDirectory();
  messages::ShowError(said.text);
  if (!keep_log || temp.empty()) return;
  inventory::OpenLog(temp, o.timestamp, o.log_stem);
  inventory::WriteLog(said.log);
  const std::string log = inventory::InstallLogPath();
  if (!log.empty()) messages::PrintMessage("S_INSTALL_LOG_KEPT", {log});
  inventory::CloseLog();
}

// A place the user names for the run to write into (the scratch directory, BOOTSTRAP_LOC,
// the prerequisite checker's logs) is neither the medium's nor on it nor one that holds
// it: staging and logs would land among what the run reads from the medium, and a run that
// removes what it made there would work inside the medium. False after refusing.
bool WritesOffTheMedium(const std::string& option, const std::string& path) {
  std::string place;
  if (!access::MeetsTheMedium(path, true, &place)) return true;
  RefuseBeforeScratch(SayMessage("S_ERMEDIUM_PLACE", {option, path, place}));
  return false;
}

// A directory the run makes with its missing parents begins below the nearest one that
// exists: that one must let no other user steer what is made there, or root's directories
// would be made where another user chooses. False after refusing.
bool MayMakeBelow(const std::string& path, const std::string& option) {
  std::string why;
  if (platform::Os().files->CheckSharedDirectory(paths::NearestExisting(path), &why)) return true;
  RefuseBeforeScratch(SayMessage("S_ERGIVEN_BELOW", {option, path, why}));
  return false;
}

// A directory given for the run to stage into (-rscratchPath, or BOOTSTRAP_LOC for
// -BOOTSTRAPONLY, named `option`): never a file-system root or a device, and the user's
// alone (see CheckPrivateDirectory): another user's directory, a link, or one others may
// write would let them swap what Java runs. A missing one is made now, by this run and for
// its owner alone; one that appears meanwhile is judged as any existing one. It is held
// from now on. False when the run ends.
bool TakeGivenDirectory(Run* run, const std::string& path, const std::string& option) {
  const platform::PathStyle& style = *platform::Os().style;
  platform::FileSystem& files = *platform::Os().files;
  // The absolute form of a device name is "\\.\NUL": a device, whatever it looks like, and
  // so is a directory below one ("C:\rs\NUL\").
  if (paths::NamesADevice(path, style)) {
    RefuseBeforeScratch(SayMessage("S_ERGIVEN_DEVICE", {option, path}));
    return false;
  }
  if (path.empty() || paths::IsRootDirectory(path, style)) {
    RefuseBeforeScratch(SayMessage("S_ERGIVEN_ROOT", {option, path}));
    return false;
  }
  if (!WritesOffTheMedium(option, path)) return false;
  run->scratch_dir = path;
  if (!paths::FileExists(path)) {
    if (!MayMakeBelow(path, option)) return false;
    MakeParents(path, run);
    platform::FileSystem::MakeDirResult r = files.MakeDir(path, true);
    if (r == platform::FileSystem::MakeDirResult::kFailed) {
      RemoveMadeParents(*run);
      RefuseBeforeScratch(SayMessage("S_ERPERDIR", {path}));
      return false;
    }
    run->scratch_made = r == platform::FileSystem::MakeDirResult::kCreated;
  }
  std::string why;
  // The user's alone, and one the user may write into: else nothing can be staged there.
  bool usable = files.CheckPrivateDirectory(path, &why) && files.CanReadWrite(path) &&
                (run->scratch = files.HoldTree(path, &why)) != nullptr;
  std::vector<platform::DirEntry> entries;
  if (usable && !run->scratch_made) {
    usable = run->scratch->List("", &entries);
    for (const platform::DirEntry& e : entries) run->scratch_held_before.insert(e.id);
  }
  if (!usable) {
    run->scratch.reset();
    if (run->scratch_made) files.RemoveDir(path);
    RemoveMadeParents(*run);
    RefuseBeforeScratch(why.empty() ? SayMessage("S_ERPERDIR", {path})
                                    : SayText(option + " " + why + "\n"));
    return false;
  }
  // Used as it is now, through every link on its way: a link turned elsewhere later leads
  // none of the run's paths (nor Java's) with it. The name it is used by must lead to the
  // directory held.
  std::string resolved;
  safetree::FileId now;
  if (files.ResolvePath(path, &resolved) &&
      (!files.Identify(resolved, &now) || now != run->scratch->RootId())) {
    run->scratch.reset();
    if (run->scratch_made) files.RemoveDir(path);
    RemoveMadeParents(*run);
    RefuseBeforeScratch(SayMessage("S_ERTWO_DIRECTORIES", {option + " " + path}));
    return false;
  }
  if (!resolved.empty()) run->scratch_dir = resolved;
  return true;
}

// A TEMP on the medium would put the run's own directory among what it reads from there.
// False after refusing.
bool TempOffTheMedium() {
  std::string temp, place;
  paths::GetTempDirectory(&temp);
  if (!access::MeetsTheMedium(temp, false, &place)) return true;
  RefuseBeforeScratch(SayMessage("S_ERMEDIUM_PLACE", {"TEMP", temp, place}), false);
  return false;
}

// A scratch directory of the run's own under TEMP. A TEMP that is missing is made with
// its missing parents as a given directory's are, for the user alone, and they go again at
// the end when empty. False when the run ends.
bool MakeScratchDirectory(Run* run) {
  std::string temp;
  paths::GetTempDirectory(&temp);
  if (!paths::FileExists(temp)) {
    if (!MayMakeBelow(temp, paths::TempVariable())) return false;
    MakeParents(temp + platform::Os().style->separator + "x", run);
  }
  if (paths::CreateScratchDirectory(&run->scratch_dir, &run->scratch)) return true;
  RemoveMadeParents(*run);
  return false;
}

// The run's scratch directory: BOOTSTRAP_LOC for -BOOTSTRAPONLY, -rscratchPath, or one
// made under TEMP. Taken before anything is written; one that is refused ends the run
// here. False when it ends.
bool TakeScratchDirectory(Run* run) {
  const OptionState& o = Options();
  if (!o.scratch_path_given && !(o.bootstraponly && !o.bootstrap_loc.empty()) &&
      !TempOffTheMedium()) {
    return false;
  }
  bool taken = o.bootstraponly && !o.bootstrap_loc.empty()
                   ? TakeGivenDirectory(run, o.bootstrap_loc, "BOOTSTRAP_LOC")
               : o.scratch_path_given ? TakeGivenDirectory(run, o.scratch_path, "-rscratchPath")
                                      : MakeScratchDirectory(run);
  if (!taken) return false;
  if (!o.scratch_path_given && !(o.bootstraponly && !o.bootstrap_loc.empty())) {
    run->scratch_made = true;
  }
  access::AddRunOwn(run->scratch_dir);
  return true;
}

void LogLine(const Run& run, const std::string& text) {
  const OptionState& o = Options();
  inventory::OpenLog(run.scratch_dir, o.timestamp, o.log_stem);
  inventory::WriteLog(text);
  inventory::CloseLog();
}

// A failed run keeps its install log when the log lies in the scratch directory: it is
// moved beside it, into the temporary directory. Only a log the run made is moved. False
// when it could not be moved, and the scratch directory must then stay.
bool KeepInstallLog(const Run& run) {
  const std::string& log = inventory::InstallLogPath();
  const platform::PathStyle& style = *platform::Os().style;
  if (run.result == 0 || log.empty() || !paths::IsSameOrBelow(log, run.scratch_dir, style)) {
    return true;
  }
  if (!inventory::IsRunLog(log)) return true;  // never written, or not the run's: kept in place
  if (run.temp_dir.empty()) {
    messages::PrintMessage("S_LOG_NOT_KEPT", {log, run.scratch_dir});
    return false;
  }
  std::string name = log.substr(log.find_last_of(style.separator) + 1);
  std::string stem = name.substr(0, name.size() - 4);  // without ".log"
  // Runs of one second share a log name: a later one takes the next free suffix.
  constexpr int kMaxSuffix = 1023;
  for (int suffix = 0; suffix <= kMaxSuffix; ++suffix) {
    std::string kept = run.temp_dir;
    paths::AppendPath(&kept, suffix == 0 ? name : stem + "_" + std::to_string(suffix) + ".log");
    if (platform::Os().files->MoveFileNoReplace(log, kept)) {
      messages::PrintMessage("S_INSTALL_LOG_KEPT", {kept});
      return true;
    }
    // Taken by anything, a link that leads nowhere included, the name costs a suffix.
    safetree::FileId taken;
    if (!platform::Os().files->Identify(kept, &taken)) break;
  }
  // The log stays where it is, and with it the scratch directory: both named.
  messages::PrintMessage("S_LOG_NOT_KEPT", {log, run.scratch_dir});
  return false;
}

// What the run made but could not remove (a file held open by a process that outlives
// Java, say) is named on the console and in the log, not left without a word.
void ReportLeftBehind(const Run& run, const std::vector<std::string>& left) {
  constexpr size_t kShown = 10;
  Said said;
  auto add = [&](const Said& line) {
    said.text += line.text;
    said.log += line.log;
  };
  for (size_t i = 0; i < left.size() && i < kShown; ++i)
    add(SayMessage("S_NOT_REMOVED", {left[i]}));
  if (left.size() > kShown) {
    add(SayMessage("S_NOT_REMOVED_MORE", {static_cast<long long>(left.size() - kShown)}));
  }
  if (said.text.empty()) return;
  messages::PrintText(said.text);
  // A log that lay in the scratch directory went with it: the console says it alone.
  if (inventory::IsRunLog(inventory::InstallLogPath())) LogLine(run, said.log);
}

// Removes what the run made of its scratch directory, and nothing else: never a file-system
// root, the launcher's directory or one that holds it, whatever -rscratchPath says. Works
// through the directory held since the run took it: a rename or a link put at its name
// meanwhile redirects nothing.
void RemoveScratchDirectory(Run* run) {
  if (!run->scratch) return;
  const Run& r = *run;
  const platform::PathStyle& style = *platform::Os().style;
  std::string scratch, launcher_dir;
  paths::GetFullPath(&scratch, r.scratch_dir);
  paths::GetCurrentDir(&launcher_dir);
  if (paths::IsRootDirectory(scratch, style) ||
      paths::IsSameOrBelow(launcher_dir, scratch, style)) {
    LogLine(r, "The scratch directory " + scratch +
                   " is not removed: it is a file-system root or holds the launcher.\n");
    return;
  }
  if (!KeepInstallLog(r)) return;
  // Out of the directory about to go, and out of TEMP, which may go with the parents the
  // run made for it: Windows keeps a working directory in use.
  platform::Os().files->SetWorkingDirectory(r.startup_location);
  std::vector<std::string> left;
  std::vector<platform::DirEntry> entries;
  if (!run->scratch->List("", &entries)) {  // named, not kept silently
    safetree::FileId now;
    const bool moved =
        !platform::Os().files->Identify(r.scratch_dir, &now) || now != run->scratch->RootId();
    left.push_back(r.scratch_dir +
                   (moved ? " (it was moved or replaced while the installer ran)" : ""));
  }
  for (const platform::DirEntry& e : entries) {
    // In a directory the user gave, what staging made and the run's own log go; what the
    // user put there, before or meanwhile, stays.
    const bool runs = r.scratch_made || r.staged.count(e.id) > 0 ||
                      (inventory::IsRunLog(r.scratch_dir + style.separator + e.name) &&
                       r.scratch_held_before.count(e.id) == 0);
    if (runs) run->scratch->Remove(e.name, &left);
  }
  std::string why;
  if (r.scratch_made && left.empty() && !run->scratch->RemoveRoot(r.scratch_dir, &why)) {
    left.push_back(r.scratch_dir + " (" + why + ")");
  }
  run->scratch.reset();
  if (r.scratch_made) RemoveMadeParents(r);
  ReportLeftBehind(r, left);
}

// A scratch directory of the run's own that holds nothing goes; one the user gave stays.
void DropEmptyScratchDirectory(Run* run) {
  std::string why;
  if (run->scratch && run->scratch_made && run->scratch->RemoveRoot(run->scratch_dir, &why)) {
    run->scratch.reset();
    RemoveMadeParents(*run);
  }
}

// Where the environment's temporary directory was not taken, the run says so, on the
// console and in its log.
void SayTempDirectoryNote(const Run& run) {
  const std::string& note = paths::TempDirectoryNote();
  if (note.empty()) return;
  messages::PrintText(note);
  LogLine(run, note);
}

// A staging that failed leaves nothing half-made behind: the scratch directory goes as
// after any failed run, its log kept in the temporary directory; in a directory the user
// gave (BOOTSTRAP_LOC too), what staging made goes and what was there stays.
void AbandonStaging(Run* run, int status) {
  if (status == 0) return;
  run->result = status;
  run->temp_dir = KeepingDirectory();
  RemoveScratchDirectory(run);
}

// A medium that is not the one its launcher vouches for ends the run before anything
// from it runs: the user is told which file and what differed, on the console and in the
// install log, which is kept; whatever the run staged goes.
int RefuseTheMedium(Run* run) {
  const Said said = {access::MediumRefusal(), access::MediumRefusalForLog()};
  if (!run->scratch) {
    // Where the catalogue was refused, the console was never set up for its texts.
    platform::Os().console->UseStandardOutput();
    RefuseBeforeScratch(said);
    return kExitRunEnded;
  }
  messages::ShowError(said.text);
  LogLine(*run, said.log);
  AbandonStaging(run, kExitRunEnded);
  return kExitRunEnded;
}

// Draws the medium's border from the launcher's own path, before any option is read, and
// puts the guard of the medium in front of every read when the launcher carries its
// manifest's digest; a manifest that is missing or changed is the run's first refusal.
void GuardTheMedium(RunContext* context) {
  std::optional<manifest::Sha256Digest> bound = manifest::BoundDigest();
  std::string module;
  access::Refusal error;
  uint32_t code = 0;
  if (!platform::Os().system->ModulePath(&module, &code)) {
    if (bound) access::RefuseMedium({"S_ERMEDIUM_NO_PATH", {}});
    return;
  }
  const size_t cut = module.find_last_of(platform::Os().style->drive_letters ? "\\/" : "/");
  std::string dir = cut == std::string::npos ? "." : module.substr(0, cut);
  // "D:" alone names the drive's current directory; the launcher lies in its root.
  if (dir.size() == 2 && dir[1] == ':' && platform::Os().style->drive_letters) dir += '\\';
  if (!bound) {
    access::DrawMediumBorder(dir, {}, 0);
  } else if (!access::GuardMedium(dir, module.substr(cut + 1), *bound, &context->platform,
                                  &error)) {
    access::RefuseMedium(error);
  }
}

// Java started on the medium in place reads it itself: the whole medium is checked first.
bool VerifyInPlace(const Run& run) {
  if (!access::MediumGuarded() || Bootstrapping(run)) return true;
  std::string dir;
  paths::GetCurrentDir(&dir);
  return access::VerifyTrees({dir});
}

// Starts Java (or reports a bootstrap-only run as done) and cleans up after a wait.
void StartJavaAndFinish(Run* run) {
  const OptionState& o = Options();
  if (o.bootstraponly) {
    platform::Os().console->WriteStdout("\nBootStrap To " + run->scratch_dir + " Completed\n");
    return;
  }
  if (run->result != 0) {
    messages::PauseIfSilentAndWatched();
  } else {
    inventory::OpenLog(run->scratch_dir, o.timestamp, o.log_stem);
    run->result = bootstrap::ValidateJavaHome(o.jre_location, run->extjre, run->settings);
    inventory::CloseLog();
    if (run->result == 0) {
      run->result = static_cast<int>(CreateZEKProcess(run->java_args, run->wait_for_java));
    }
  }
  if (run->wait_for_java) RemoveScratchDirectory(run);
}

// After the checks: stages what the run needs, prepares Java's command line and starts
// Java; the run's exit status.
int StageAndStartJava(Run* run) {
  const OptionState& o = Options();
  config::DeriveInstallerLocations(&run->settings);
  int status = 0;
  if (Bootstrapping(*run) && !Bootstrap(run, &status)) {
    if (access::MediumRefused()) return RefuseTheMedium(run);
    AbandonStaging(run, status);
    return status;
  }
  if (access::MediumRefused() || !VerifyInPlace(*run)) return RefuseTheMedium(run);
  config::DeriveJavaLocations(o.param_file, &run->settings);
  PrepareJava(run);
  if (access::MediumRefused()) return RefuseTheMedium(run);
  if (!o.bootstraponly && !paths::FileExists(run->java_executable)) {
    messages::ShowError(messages::FormatMessageText("S_ERJRENFD", {run->java_executable, "1.3.1"}));
    run->result = kExitRunEnded;
  }
  if (!inventory::ProbeRegistryWriteAccess()) {
    messages::ShowError(messages::MessageText("S_ERR_REG_ACCESS"));
    // What was staged for a Java that does not start goes; the log is kept and named.
    AbandonStaging(run, kExitRunEnded);
    return kExitRunEnded;
  }
  if (!EnterWorkingDirectory(run)) {
    AbandonStaging(run, kExitRunEnded);
    return kExitRunEnded;
  }
  StartJavaAndFinish(run);
  return run->result;
}

}  // namespace

std::string StartupLocationOf(const std::string& module_path) {
  const std::string dot = "." + paths::Separator();
  std::string path = module_path.rfind(dot, 0) == 0 ? module_path.substr(dot.size()) : module_path;
  size_t cut = path.find_last_of(paths::Separator());
  return cut == std::string::npos ? "." : path.substr(0, cut);
}

int RunLauncher(const platform::Platform& native, std::vector<std::string> args) {
  RunContext context(native);
  RunScope scope(&context);
  Run run;
  run.args = std::move(args);
  run.module_path = run.args.empty() ? "" : run.args[0];
  OptionState& o = Options();
  o.timestamp = paths::TakeRunTimestamp();
  GuardTheMedium(&context);
  // A catalogue that is not the medium's is not shown: the refusal is said in English.
  bool catalogue = !access::MediumRefused() && messages::LoadMessageCatalogue(run.module_path) == 0;
  if (!catalogue && !access::MediumRefused()) return kExitNoCatalogue;
  ScanOptions(&run.args, &run.last_argument_upper);
  AddUserChoices();
  if (!o.noconsole) messages::CreateLauncherConsole();
  if (access::MediumRefused()) return RefuseTheMedium(&run);
  run.startup_location = StartupLocationOf(run.module_path);
  if (!o.prereqlogloc.empty() && !WritesOffTheMedium("-PREREQLOGLOC", o.prereqlogloc))
    return kExitRunEnded;
  if (!TakeScratchDirectory(&run)) return kExitRunEnded;
  SayTempDirectoryNote(run);
  run.param_result = config::ReadParameterFile(&o.param_file, &run.scratch_dir,
                                               &run.startup_location, &run.settings);
  LogRefusedTimestamp(run);
  if (access::MediumRefused()) return RefuseTheMedium(&run);
  if (!access::MediumGuarded()) {
    LogLine(run,
            "The medium's files are not verified: the launcher carries no manifest of them.\n");
  }
  if (DistributionCheckFails(&run)) return kExitRunEnded;
  if (o.prereqchecker && CheckPrereqCheckerConfig(&run) != 0) return kExitRunEnded;
  if (!o.help && RunPrerequisites(&run) != 0) {
    // A refused run keeps its scratch directory for the log in it; one whose log could not
    // be written there leaves no empty directory behind.
    if (inventory::InstallLogPath().empty()) DropEmptyScratchDirectory(&run);
    return kExitRunEnded;
  }
  if (access::MediumRefused()) return RefuseTheMedium(&run);
  if (run.param_result != 0) {
    if (run.param_result == kExitNoParameterFile) messages::PauseIfSilentAndWatched();
    return run.param_result;
  }
  return StageAndStartJava(&run);
}

}  // namespace zorvex
