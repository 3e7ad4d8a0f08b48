#include "bootstrap/bootstrap_driver.h"

#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "access/guard.h"
#include "bootstrap/components.h"
#include "bootstrap/progress.h"
#include "bootstrap/tree_ops.h"
#include "bootstrap/version.h"
#include "inventory/logs.h"
#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/command_line.h"
#include "platform/platform.h"
#include "unzip/entry_path.h"
#include "unzip/system.h"
#include "unzip/zip_archive.h"

namespace zorvex::bootstrap {

namespace {

// The entries and bytes the jars of a component directory hold, from their central
// directories: what its unpacking will write.
void JarContents(const std::string& dir, JarCache* cache, uint64_t* files, uint64_t* bytes) {
  *files = *bytes = 0;
  for (const JarListing& jar : ListJars(dir, cache)) {
    for (const unzip::Entry& entry : jar.entries) {
      if (entry.IsDirectory()) continue;
      ++*files;
      *bytes += entry.uncompressed_size;
    }
  }
}

// One run of the driver: the request, the components root and which steps to run.
class Driver {
 public:
  explicit Driver(const BootstrapRequest& r) : r_(r), st_(*r.settings), o_(Options()) {}
  int Run();

 private:
  bool EnoughSpace(int64_t needed_kb);
  bool Plan();
  bool CheckBeforeCopying();
  bool Copy();
  bool TakeComponentList();
  bool CheckJreScratch();
  bool StagePlain();
  bool StageDistribution();
  bool RuntimeStep();
  bool InstallerStep();
  bool CoreStep();
  bool PatchStep();
  bool FindJavaHome(bool development_kit);
  bool CopyRequired(const std::string& from, const std::string& rel);
  void CopyExtensions();
  void MakeStagedTreesWritable();
  std::set<std::string> StagedTopLevelNames() const;
  bool LandsOnNothingOfTheUsers();
  std::string HighestComponentDir(const std::string& name) const;
  bool Unzip(const std::string& name, const std::string& source);
  int Stage();
  bool StageVerifiedUnzip();
  uint64_t VerifiedUnzipBytes() const;
  void RemoveVerifiedUnzip();
  void RemoveWhatWasStaged();
  void PlanProgress();
  void Timing(const char* format, const std::string& name, uint32_t start) const;
  uint32_t Now() const { return platform::Os().system->TickCount(); }
  // The target's writer: the one the run holds, else one opened by its path, once.
  platform::TreeWriter* Target() const;
  std::set<safetree::FileId> MadeAtTop() const;

  const BootstrapRequest& r_;
  config::Settings& st_;
  const OptionState& o_;
  std::string root_;
  ComponentPlan plan_;
  Progress progress_;
  std::set<safetree::FileId> held_before_;  // the target's entries before staging
  std::vector<std::string> unzip_sources_;  // the component directories to be unpacked
  std::string unzip_dir_;                   // where the unzip that staging runs lies
  std::string verified_unzip_;              // its checked copy below the target, if any
  mutable JarCache jars_;
  mutable std::unique_ptr<platform::TreeWriter> opened_;  // when the run holds none // each jar's
                                                          // listing, read (and checked) once
};

constexpr char kStepTiming[] = "\n Time taken for bootstrapping %s is %5.5f  seconds";
constexpr char kEntryTiming[] = "\n Time taken for bootstrapping %s is %5.5f   seconds";

void Driver::Timing(const char* format, const std::string& name, uint32_t start) const {
  float seconds = static_cast<float>(static_cast<uint32_t>(Now() - start)) / 1000.0f;
  std::string line(name.size() + 128, '\0');
  int n = std::snprintf(line.data(), line.size(), format, name.c_str(), seconds);
  line.resize(n > 0 ? static_cast<size_t>(n) : 0);
  inventory::WriteTimeLog(line);
}

std::string Driver::HighestComponentDir(const std::string& name) const {
  return ComponentDir(root_, name, "");
}

bool Driver::Unzip(const std::string& name, const std::string& source) {
  uint64_t files = 0, bytes = 0;
  JarContents(source, &jars_, &files, &bytes);
  progress_.Step(name, files, bytes);
  return UnzipJars(source, r_.target_dir, unzip_dir_);
}

// On a verified medium the unzip runs from a copy below the target, made by the guarded
// copy, which checks the very bytes it writes: the medium's program could be swapped
// between a check and its start, the run's own copy cannot. False after a refusal.
bool Driver::StageVerifiedUnzip() {
  unzip_dir_ = r_.startup_location;
  if (!access::MediumGuarded() || !config::StartsWithT(st_.distribution) || o_.nobootstrap)
    return true;
  platform::TreeWriter* target = Target();
  if (!target) return false;
  // A name of the run's own, never one that stands there already.
  std::string name;
  platform::DirEntry found;
  for (int n = 0; name.empty() || target->Find(name, &found); ++n) {
    name = ".zorunzip_" + o_.timestamp + (n > 0 ? "_" + std::to_string(n) : "");
  }
  const bool windows = platform::Os().style->drive_letters;
  const std::string program = windows ? "unzip.exe" : "unzip";
  verified_unzip_ = name;
  const std::string from = paths::JoinPath(r_.startup_location, program);
  if (!target->MakeDirs(name) || !target->CopyRegularFile(from, name + "/" + program)) {
    // The medium's refusal says what was wrong with the medium; else the copy could not
    // be written, and the run says so.
    if (!access::MediumRefused()) {
      const messages::FormatArgs args = {
          from, paths::JoinPath(paths::JoinPath(r_.target_dir, name), program)};
      messages::ShowError(messages::FormatMessageText("S_ERBOOTSTRAP_COPY", args));
      inventory::WriteLog(messages::FormatLogMessageText("S_ERBOOTSTRAP_COPY", args));
    }
    return false;
  }
  unzip_dir_ = paths::JoinPath(r_.target_dir, name);
  return true;
}

// The size of the unzip's checked copy that staging will make, as the manifest lists it.
uint64_t Driver::VerifiedUnzipBytes() const {
  if (!access::MediumGuarded() || o_.nobootstrap) return 0;
  const std::string program = platform::Os().style->drive_letters ? "unzip.exe" : "unzip";
  access::Lookup listed = access::LookUp(paths::JoinPath(r_.startup_location, program));
  return listed.entry != nullptr ? listed.entry->size : 0;
}

void Driver::RemoveVerifiedUnzip() {
  if (verified_unzip_.empty()) return;
  platform::TreeWriter* target = Target();
  std::vector<std::string> left;
  if (target) target->Remove(verified_unzip_, &left);
  if (!target) left.push_back(paths::JoinPath(r_.target_dir, verified_unzip_));
  // Named, not left without a word.
  for (const std::string& path : left)
    inventory::WriteLog("The run could not remove " + path + ".\n");
  verified_unzip_.clear();
}

platform::TreeWriter* Driver::Target() const {
  if (r_.target != nullptr) return r_.target;
  if (!opened_) opened_ = platform::Os().files->OpenTreeWriter(r_.target_dir, false);
  return opened_.get();
}

// What staging made at the top of the target, by identity: in the run's own directory
// everything that was not there before (but the install log, which the run keeps or
// removes itself); in one the user gave, only entries of the names staging makes, so that
// what the user puts there meanwhile stays the user's.
std::set<safetree::FileId> Driver::MadeAtTop() const {
  std::set<safetree::FileId> made;
  std::vector<platform::DirEntry> entries;
  if (!Target() || !Target()->List("", &entries)) return made;
  std::set<std::string> planned;
  if (r_.held_before != nullptr) {
    for (const std::string& name : StagedTopLevelNames()) planned.insert(safetree::NameKey(name));
  }
  const std::string log = inventory::InstallLogPath();
  for (const platform::DirEntry& e : entries) {
    if (held_before_.count(e.id) != 0 ||
        (!log.empty() && paths::JoinPath(r_.target_dir, e.name) == log)) {
      continue;
    }
    if (r_.held_before == nullptr || planned.count(safetree::NameKey(e.name)) > 0) {
      made.insert(e.id);
    }
  }
  return made;
}

// A refused medium leaves nothing staged behind, in a directory of the user's too: what
// staging made at the top of the target goes, what was there (or came meanwhile) stays.
void Driver::RemoveWhatWasStaged() {
  platform::TreeWriter* target = Target();
  std::vector<platform::DirEntry> entries;
  const std::set<safetree::FileId> made = MadeAtTop();
  if (!target || !target->List("", &entries)) return;
  for (const platform::DirEntry& e : entries) {
    std::vector<std::string> left;
    if (made.count(e.id) > 0) target->Remove(e.name, &left);
  }
}

// What the unpacking steps will write, worked out as they will choose their sources, so
// that the progress line can tell how far staging is.
void Driver::PlanProgress() {
  auto add = [&](const std::string& dir) {
    unzip_sources_.push_back(dir);
    uint64_t files = 0, bytes = 0;
    JarContents(dir, &jars_, &files, &bytes);
    progress_.AddToTotal(files, bytes);
  };
  for (const PlannedComponent& c : plan_.entries) {
    if (c.role == ComponentRole::kOther) add(ComponentDir(root_, c.name, c.version));
  }
  auto source = [&](const std::string& location, const char* name) {
    return paths::FileExists(location) ? location : HighestComponentDir(name);
  };
  if (plan_.runtime && r_.copy_jre) {
    std::string jre = source(*r_.jre_location, kJre);
    add(paths::FileExists(jre) ? jre : HighestComponentDir(kJdk));
  }
  if (plan_.installer) add(source(st_.zek_location, kZek));
  if (plan_.core) add(source(st_.zek_core_location, kZekCore));
  if (plan_.patch) add(source(st_.zpatch_location, kZpatch));
}

// A copy that staging needs, into `rel` below the target: its failure ends the bootstrap,
// and the user is told which.
bool Driver::CopyRequired(const std::string& from, const std::string& rel) {
  progress_.Step(from, CountFiles(from), 0);
  if (CopyTreeInto(from, Target(), r_.target_dir, rel)) return true;
  const std::string to = rel.empty() ? r_.target_dir : paths::JoinPath(r_.target_dir, rel);
  messages::ShowError(messages::FormatMessageText("S_ERBOOTSTRAP_COPY", {from, to}));
  inventory::WriteLog(messages::FormatLogMessageText("S_ERBOOTSTRAP_COPY", {from, to}));
  return false;
}

bool Driver::EnoughSpace(int64_t needed_kb) {
  bool known = false;
  uint64_t free_kb = GetFreeSpaceKb(r_.target_dir, &known);
  if (!known) {
    // Not "not enough": nobody knows. Staging goes on, and a full disk will say so.
    inventory::ReportMessage("S_FREE_SPACE_UNKNOWN", {r_.target_dir});
    return true;
  }
  if (static_cast<int64_t>(free_kb) >= needed_kb) return true;
  // The run ends here with -1: it says why.
  const messages::FormatArgs args = {r_.target_dir, static_cast<long long>(needed_kb)};
  messages::ShowError(messages::FormatMessageText("S_ERBOOTSTRAP_SPACE", args));
  inventory::WriteLog(messages::FormatLogMessageText("S_ERBOOTSTRAP_SPACE", args));
  return false;
}

// The components BOOTSTRAP_COMPS names: the launcher's own mark their steps (a named
// version names their sources); any other is unpacked into the target at once. False when
// an unpacking failed.
bool Driver::TakeComponentList() {
  for (const PlannedComponent& c : plan_.entries) {
    uint32_t start = Now();
    switch (c.role) {
      case ComponentRole::kSkipped:
        inventory::WriteLog(
            "BOOTSTRAP_COMPS entry \"" + c.entry + "\" " +
            (c.name.empty() ? "names no component" : "is no plain component name and version") +
            ": skipped.\n");
        break;
      case ComponentRole::kRuntime:
        break;
      case ComponentRole::kInstaller:
        st_.zek_location = ComponentDir(root_, c.name, c.version);
        break;
      case ComponentRole::kCore:
        st_.zek_core_location = ComponentDir(root_, c.name, c.version);
        break;
      case ComponentRole::kPatch:
        st_.zpatch_location = ComponentDir(root_, c.name, c.version);
        break;
      case ComponentRole::kOther:
        if (!o_.nobootstrap && !Unzip(c.name, ComponentDir(root_, c.name, c.version))) return false;
        Timing(kEntryTiming, c.name, start);
        break;
    }
  }
  return true;
}

// A runtime already in the scratch directory (JRE_SCRATCH_LOC) is used when it holds
// anything.
bool Driver::CheckJreScratch() {
  if (st_.jre_scratch_location.empty()) return false;
  std::vector<platform::DirEntry> entries;
  if (platform::Os().files->ListDirectory(st_.jre_scratch_location, &entries)) {
    for (const platform::DirEntry& e : entries) {
      if (e.name != "." && e.name != "..") return true;
    }
  }
  inventory::WriteLog(messages::MessageText("S_ERJRE_MISSING"));
  return false;
}

bool Driver::StagePlain() {
  std::string& jre = *r_.jre_location;
  if (r_.copy_jre) {
    if (!CopyRequired(jre, "jre")) return false;
    jre = paths::JoinPath(r_.target_dir, "jre");
  }
  const std::string zek = paths::JoinPath(r_.target_dir, "zek");
  if (!CopyRequired(st_.zek_location, "zek")) return false;
  st_.zek_location = zek;
  if (!CopyRequired(st_.zek_core_location, "zek")) return false;
  st_.zek_core_location = zek;
  const std::string zpatch = paths::JoinPath(r_.target_dir, "ZPatch");
  if (!CopyRequired(st_.zpatch_location, "ZPatch")) return false;
  st_.zpatch_location = zpatch;
  return true;
}

// The Java home below the target: {target}/jdk/ for a development kit, else the first
// entry of {target}/jre.
bool Driver::FindJavaHome(bool development_kit) {
  const std::string dir = paths::JoinPath(r_.target_dir, development_kit ? "jdk" : "jre");
  std::vector<platform::DirEntry> entries;
  if (platform::Os().files->ListDirectory(dir, &entries)) {
    for (const platform::DirEntry& e : entries) {
      if (e.name == "." || e.name == "..") continue;
      *r_.jre_location =
          development_kit ? dir + platform::Os().style->separator : paths::JoinPath(dir, e.name);
      return true;
    }
  }
  // JRE_SCRATCH_LOC is blamed only where it named the runtime.
  if (st_.jre_scratch_location.empty()) {
    messages::PrintMessage("S_ERJRE_NOT_STAGED", {dir});
  } else {
    messages::PrintText(messages::MessageText("S_ERJRE_MISSING"));
  }
  return false;
}

bool Driver::RuntimeStep() {
  uint32_t start = Now();
  std::string& jre = *r_.jre_location;
  bool development_kit = false;
  if (!paths::FileExists(jre)) {
    std::string candidate = HighestComponentDir(kJre);
    if (!paths::FileExists(candidate)) {
      candidate = HighestComponentDir(kJdk);
      development_kit = true;
    }
    if (!paths::FileExists(candidate)) {
      messages::PrintText(messages::MessageText("S_JRELOC_ERROR_NOCONSOLE_WIN"));
      return false;
    }
    jre = candidate;
  }
  if (!o_.nobootstrap && !Unzip(kJre, jre)) return false;
  Timing(kStepTiming, kJre, start);
  if (st_.jre_version.size() > 2) {
    CopyTreeInto(paths::JoinPath(jre, "Expanded"), Target(), r_.target_dir,
                 "jre/" + st_.jre_version);
  }
  return FindJavaHome(development_kit);
}

bool Driver::InstallerStep() {
  uint32_t start = Now();
  if (!paths::FileExists(st_.zek_location)) st_.zek_location = HighestComponentDir(kZek);
  if (!o_.nobootstrap && !Unzip(kZek, st_.zek_location)) return false;
  Timing(kStepTiming, kZek, start);
  CopyTreeInto(paths::JoinPath(st_.zek_location, "Expanded"), Target(), r_.target_dir, "");
  st_.zek_location = paths::JoinPath(r_.target_dir, "zek");
  return true;
}

// A core that fails to unpack does not end the bootstrap of a medium whose files are not
// verified: its location stays. On a verified medium it does: Java would take the core
// from the medium, whose files nobody checks once Java reads them. False when it ends.
bool Driver::CoreStep() {
  uint32_t start = Now();
  if (!paths::FileExists(st_.zek_core_location)) {
    st_.zek_core_location = HighestComponentDir(kZekCore);
  }
  CopyTreeInto(paths::JoinPath(st_.zek_core_location, "Expanded"), Target(), r_.target_dir, "");
  if (!o_.nobootstrap && !Unzip(kZekCore, st_.zek_core_location)) return !access::MediumGuarded();
  Timing(kStepTiming, kZekCore, start);
  st_.zek_core_location = paths::JoinPath(r_.target_dir, "zek");
  return true;
}

bool Driver::PatchStep() {
  uint32_t start = Now();
  if (!paths::FileExists(st_.zpatch_location)) st_.zpatch_location = HighestComponentDir(kZpatch);
  if (!o_.nobootstrap && !Unzip(kZpatch, st_.zpatch_location)) return false;
  Timing(kStepTiming, kZpatch, start);
  st_.zpatch_location = paths::JoinPath(r_.target_dir, "ZPatch");
  return true;
}

bool Driver::StageDistribution() {
  if (plan_.runtime && r_.copy_jre && !RuntimeStep()) return false;
  if (plan_.installer && !InstallerStep()) return false;
  if (plan_.core && !CoreStep()) return false;
  return !plan_.patch || PatchStep();
}

void Driver::CopyExtensions() {
  if (o_.nobootstrap) return;
  const std::pair<const char*, const std::string*> extensions[] = {
      {"jlib", &st_.ext_jlib}, {"lib", &st_.ext_lib}, {"bin", &st_.ext_bin}};
  bool any = false;
  for (const auto& [name, source] : extensions) any |= paths::FileExists(*source);
  if (!any) return;
  for (const auto& [name, source] : extensions) {
    if (paths::FileExists(*source))
      CopyTreeInto(*source, Target(), r_.target_dir, std::string("ext/") + name);
  }
}

int Driver::Run() {
  int result = Stage();
  RemoveVerifiedUnzip();
  if (r_.made != nullptr) *r_.made = MadeAtTop();
  if (access::MediumRefused()) {
    RemoveWhatWasStaged();
    return kBootstrapFailed;
  }
  return result;
}

// Staging in three named steps: the plan (what is there, the space the medium asks for,
// which components go where), the checks before anything is written, and the copies.
int Driver::Stage() {
  platform::TreeWriter* target = Target();
  std::vector<platform::DirEntry> entries;
  if (target && target->List("", &entries)) {
    for (const platform::DirEntry& e : entries) held_before_.insert(e.id);
  }
  return Plan() && CheckBeforeCopying() && Copy() ? 0 : kBootstrapFailed;
}

bool Driver::Plan() {
  // Nothing is copied once the space is known to be short: the run ends here.
  if (!EnoughSpace(r_.size_kb)) {
    LogBootstrappedFileCounts(r_.target_dir);
    return false;
  }
  // JRE_VERSION names a directory below {target}/jre.
  if (st_.jre_version.size() > 2 && !paths::IsPlainName(st_.jre_version)) {
    messages::ShowError(messages::FormatMessageText("S_ERJRE_VERSION", {st_.jre_version}));
    inventory::WriteLog(messages::FormatLogMessageText("S_ERJRE_VERSION", {st_.jre_version}));
    return false;
  }
  root_ = ComponentsRoot();
  plan_ = PlanComponents(st_.bootstrap_comps, !o_.bootstraponly);
  if (config::StartsWithT(st_.distribution)) {
    PlanProgress();
  } else {
    for (const std::string* tree :
         {r_.jre_location, &st_.zek_location, &st_.zek_core_location, &st_.zpatch_location}) {
      if (tree != r_.jre_location || r_.copy_jre) progress_.AddToTotal(CountFiles(*tree), 0);
    }
  }
  return true;
}

bool Driver::CheckBeforeCopying() {
  // The jars' listings have been checked against the manifest: nothing is written when
  // one is missing, not listed or not of its listed size.
  if (access::MediumRefused()) return false;
  if (r_.held_before != nullptr && !r_.held_before->empty() && !LandsOnNothingOfTheUsers()) {
    return false;
  }
  // BOOTSTRAP_SIZE is the medium's word; the jars' own directories say what unpacking
  // them will write, and an archive may declare far more than its size suggests. The
  // unzip's checked copy is written there too.
  return !config::StartsWithT(st_.distribution) ||
         EnoughSpace(
             static_cast<int64_t>((progress_.total_bytes() + VerifiedUnzipBytes() + 1023) / 1024));
}

bool Driver::Copy() {
  if (!st_.images_location.empty()) {
    CopyTreeInto(st_.images_location, Target(), r_.target_dir, "images");
    st_.images_location = paths::JoinPath(r_.target_dir, "images");
  }
  if (o_.printtime) inventory::OpenTimeLog(r_.target_dir, o_.timestamp);
  if (!StageVerifiedUnzip() || !TakeComponentList()) return false;
  bool jre_scratch = CheckJreScratch();
  bool staged = config::StartsWithT(st_.distribution) ? StageDistribution() : StagePlain();
  if (!staged) return false;
  if (jre_scratch) *r_.jre_location = st_.jre_scratch_location;
  if (!st_.access_dir.empty()) {
    uint32_t start = Now();
    if (!CopyRequired(st_.access_dir, "")) return false;
    Timing(kStepTiming, "Access Files", start);
  }
  if (o_.printtime) inventory::CloseTimeLog();
  std::string& prereq = *r_.prereq_config_location;
  if (!prereq.empty()) {
    if (!CopyRequired(prereq, "prereq")) return false;
    prereq = paths::JoinPath(r_.target_dir, "prereq");
  }
  CopyExtensions();
  MakeStagedTreesWritable();
  LogBootstrappedFileCounts(r_.target_dir);
  return true;
}

// What staging added arrives as the tree copy's files do, writable by their owner (modes
// otherwise kept): the Java installer may update or remove them, and the run removes them
// at the end. What was in the target before is not the run's to change.
void Driver::MakeStagedTreesWritable() {
  platform::TreeWriter* target = Target();
  std::vector<platform::DirEntry> entries;
  if (!target || !target->List("", &entries)) return;
  for (const platform::DirEntry& e : entries) {
    if (!e.is_link && !e.is_special && held_before_.count(e.id) == 0) target->MakeWritable(e.name);
  }
}

// The names staging will make at the top of the target: below them everything is new.
std::set<std::string> Driver::StagedTopLevelNames() const {
  std::set<std::string> names;
  const bool windows = platform::Os().style->drive_letters;
  auto listed = [&](const std::string& dir) {
    std::vector<platform::DirEntry> entries;
    if (!platform::Os().files->ListDirectory(dir, &entries)) return;
    for (const platform::DirEntry& e : entries) {
      if (e.name != "." && e.name != ".." && !e.is_special) names.insert(e.name);
    }
  };
  if (!st_.images_location.empty()) names.insert("images");
  if (config::StartsWithT(st_.distribution)) {
    for (const std::string& dir : unzip_sources_) {
      for (const JarListing& jar : ListJars(dir, &jars_)) {
        for (const unzip::Entry& entry : jar.entries) {
          unzip::SafePath where =
              unzip::MakeSafePath(entry.name, windows, entry.BackslashesSeparate());
          if (!where.components.empty()) names.insert(where.components[0]);
        }
      }
    }
    if (plan_.installer) listed(paths::JoinPath(st_.zek_location, "Expanded"));
    if (plan_.core) listed(paths::JoinPath(st_.zek_core_location, "Expanded"));
    if (st_.jre_version.size() > 2) names.insert("jre");
  } else {
    names.insert({"zek", "ZPatch"});
    if (r_.copy_jre) names.insert("jre");
  }
  if (!st_.access_dir.empty()) listed(st_.access_dir);
  if (!r_.prereq_config_location->empty()) names.insert("prereq");
  if (!o_.nobootstrap) names.insert("ext");
  return names;
}

// In a directory the user gave, staging may write nothing onto what was there: the file
// system is asked where each name staging makes would land (another letter case, a short
// name), before anything is written. False after saying which name meets which entry.
bool Driver::LandsOnNothingOfTheUsers() {
  platform::TreeWriter* target = Target();
  for (const std::string& name : StagedTopLevelNames()) {
    platform::DirEntry found;
    if (!target || !target->Find(name, &found) || r_.held_before->count(found.id) == 0) continue;
    const messages::FormatArgs args = {name, r_.target_dir,
                                       paths::JoinPath(r_.target_dir, found.name)};
    messages::ShowError(messages::FormatMessageText("S_ERSTAGE_LANDS", args));
    inventory::WriteLog(messages::FormatLogMessageText("S_ERSTAGE_LANDS", args));
    return false;
  }
  return true;
}

}  // namespace

namespace {

std::string FullPathOf(const std::string& path) {
  std::string full;
  paths::GetFullPath(&full, path);
  return full;
}

// The bytes of a listed jar that its directory is read from, checked against the manifest:
// its central directory and end records where the manifest gives their place and digest
// (a few kilobytes), else the whole jar. Read into the program's own memory (or mapped
// under a lease nobody can break unseen). Null after refusing the jar.
std::unique_ptr<unzip::MappedArchive> CheckedBytes(const std::string& path,
                                                   const access::Entry& listed) {
  std::string error, how;
  std::unique_ptr<unzip::MappedArchive> archive;
  manifest::Sha256Digest digest;
  if (listed.directory_offset) {
    archive = unzip::ReadArchiveTail(path, *listed.directory_offset, &error);
    if (archive && archive->size() == listed.size) {
      digest = manifest::Sha256Of(archive->data() + *listed.directory_offset,
                                  archive->size() - *listed.directory_offset);
      if (digest != listed.directory_sha256) how = "its central directory is not the one listed";
    }
  } else {
    archive = unzip::MapUnchangeableArchive(path);
    if (!archive) archive = unzip::ReadArchive(path, &error);
    if (archive) digest = manifest::Sha256Of(archive->data(), archive->size());
  }
  if (!archive) {
    access::RefuseMedium(access::MissingFile(FullPathOf(path)));
    return nullptr;
  }
  if (how.empty() && !listed.directory_offset) {
    platform::TreeWriter::Matches({listed.size, listed.sha256}, archive->size(), digest, &how);
  } else if (how.empty() && archive->size() != listed.size) {
    how = std::to_string(archive->size()) + " bytes, where the manifest lists " +
          std::to_string(listed.size);
  }
  if (how.empty() && !archive->Unchanged()) how = "it was opened for writing while it was read";
  if (!how.empty()) {
    access::RefuseMedium(access::ChangedFile(FullPathOf(path), how));
    return nullptr;
  }
  return archive;
}

// The central directory of the jar at `path`. With `listed`, read only from bytes checked
// against the manifest, and nothing after refusing the jar.
std::vector<unzip::Entry> ReadListing(const std::string& path, const access::Entry* listed) {
  std::string error;
  std::unique_ptr<unzip::MappedArchive> archive;
  if (listed == nullptr) {
    archive = unzip::MapArchive(path, &error);
  } else if (!(archive = CheckedBytes(path, *listed))) {
    return {};
  }
  unzip::Archive read;
  int code = 0;
  if (!archive ||
      !unzip::ReadCentralDirectory(archive->data(), archive->size(), &read, &error, &code)) {
    return {};
  }
  return std::move(read.entries);
}

// A name the unzip's "*.jar" takes: ending in ".jar" as the file system tells names apart
// (in any letter case on Windows).
bool IsJarName(const platform::DirEntry& e) {
  static const std::string suffix = safetree::NameKey("x.jar").substr(1);
  return !e.is_directory && safetree::NameKey(e.name).ends_with(suffix);
}

}  // namespace

std::vector<JarListing> ListJars(const std::string& dir, JarCache* cache) {
  std::vector<JarListing> jars;
  std::vector<platform::DirEntry> entries;
  if (!platform::Os().files->ListDirectory(dir, &entries)) return jars;
  // On a verified medium each jar must be one the manifest lists here, as it lists it.
  std::map<std::string, std::string> listed;  // the name as listed, by the key the file
                                              // system compares
  for (const auto& [name, entry] : access::ListedFilesIn(dir, ".jar")) {
    listed[safetree::NameKey(name)] = name;
  }
  // Two names that the file system folds to one (a copy on a file system that tells letter
  // case apart): the one the manifest does not spell is the planted one.
  std::map<std::string, int> names_of_key;
  for (const platform::DirEntry& e : entries) {
    if (IsJarName(e)) ++names_of_key[safetree::NameKey(e.name)];
  }
  for (const platform::DirEntry& e : entries) {
    if (!IsJarName(e)) continue;
    JarListing& jar = jars.emplace_back();
    jar.name = e.name;
    const std::string path = paths::JoinPath(dir, e.name);
    const std::string key = safetree::NameKey(e.name);
    access::Lookup lookup = access::LookUp(path);
    const bool variant = names_of_key[key] > 1 && listed.count(key) > 0 && listed[key] != e.name;
    if (lookup.verdict == access::Verdict::kUnlisted ||
        lookup.verdict == access::Verdict::kDirectory || variant) {
      access::RefuseMedium(access::UnlistedFile(FullPathOf(path)));
      continue;
    }
    if (!variant) listed.erase(key);
    const std::string full = FullPathOf(path);
    if (cache != nullptr) {
      if (auto it = cache->find(full); it != cache->end()) {
        jar.entries = it->second;
        continue;
      }
    }
    jar.entries = ReadListing(path, lookup.entry);
    if (cache != nullptr) (*cache)[full] = jar.entries;
  }
  if (!listed.empty()) {
    access::RefuseMedium(
        access::MissingFile(paths::JoinPath(FullPathOf(dir), listed.begin()->second)));
  }
  return jars;
}

uint64_t GetFreeSpaceKb(const std::string& path, bool* known) {
  uint64_t kb = 0;
  std::string dir = path;
  bool read = false;
  while (!dir.empty() && !(read = platform::Os().files->FreeSpaceKb(dir, &kb))) {
    if (paths::FileExists(dir)) break;  // it exists, and still cannot be measured
    std::string parent;
    paths::StripLastComponent(dir, &parent);
    if (parent == dir) break;
    dir = parent;
  }
  if (known != nullptr) *known = read;
  return read ? kb : 0;
}

std::string ListedArchiveArguments(
    const std::vector<std::pair<std::string, const manifest::Entry*>>& listed) {
  std::string arguments;
  size_t pieces = 0;
  for (const auto& [name, entry] : listed) {
    arguments += "--sha256 " +
                 platform::QuoteAlways(name + ":" + std::to_string(entry->size) + ":" +
                                       manifest::ToHex(entry->sha256)) +
                 " ";
    if (entry->chunks.empty() || pieces + entry->chunks.size() > kMaxChunksOnTheCommandLine) {
      continue;
    }
    pieces += entry->chunks.size();
    arguments += "--chunks " +
                 platform::QuoteAlways(name + ":" + manifest::FormatDigestList(entry->chunks)) +
                 " ";
  }
  return arguments;
}

bool UnzipJars(const std::string& source, const std::string& destination,
               const std::string& unzip_dir) {
  // Every path is quoted by the C runtime's rules, so that blanks, a trailing separator or
  // a double quote in a path never split or join the command's arguments; the archive
  // argument stays one wildcard that the unzip expands itself.
  const std::string program = unzip_dir + platform::Os().style->separator + "unzip";
  std::string command = platform::QuoteAlways(program) + (Options().debug ? " -o " : " -qqqo ") +
                        platform::QuoteAlways(source + "/*.jar") + " -d " +
                        platform::QuoteAlways(destination) + " ";
  // On a verified medium the unzip gets the jars as the manifest lists them: it reads each
  // into memory, checks it and unpacks what it checked, or nothing.
  std::vector<std::pair<std::string, const access::Entry*>> listed;
  if (access::MediumGuarded()) listed = access::ListedFilesIn(source, ".jar");
  command += ListedArchiveArguments(listed);
  // Nothing unchecked is unpacked: with no jar listed there, the unzip is not run at all,
  // and the step fails as when it finds no archive.
  const bool unchecked = access::MediumGuarded() && listed.empty();
  bool started = true;
  uint32_t code =
      unchecked ? static_cast<uint32_t>(unzip::kNotFound) : platform::RunAndWait(command, &started);
  inventory::WriteLog(messages::LogMessageText("S_UNZIP_COMMANDLINE"));
  inventory::WriteLog(command + "\n");  // its own line: the next message starts afresh
  if (code == 0) return true;
  if (!started) {
    // Not the unzip's status: the system would not start it, and says why.
    const messages::FormatArgs args = {program, platform::Os().processes->StartFailureText(code)};
    inventory::WriteLog(messages::FormatLogMessageText("S_ERUNZIP_START", args));
    messages::ShowError(messages::FormatMessageText("S_ERUNZIP_START", args));
  }
  if (access::MediumGuarded() && code == static_cast<uint32_t>(unzip::kNotTheMediums)) {
    std::string full;
    paths::GetFullPath(&full, source);
    // The launcher checked the jars before; the unzip found one changed since, and says
    // which on its error output. What it unpacked goes with the rest of the staging.
    const std::string jar = paths::JoinPath(full, listed.size() == 1 ? listed[0].first : "*.jar");
    access::RefuseMedium(access::ChangedFile(
        jar,
        "the medium's unzip found it changed after it was checked; what was unpacked of it "
        "is removed"));
  }
  // The run ends: the user is told which component could not be unpacked.
  inventory::WriteLog(messages::FormatLogMessageText("S_UNZIP_FAILED", {source}));
  messages::ShowError(messages::FormatMessageText("S_UNZIP_FAILED", {source}));
  platform::Os().console->FlushStdout();
  return false;
}

int BootstrapFiles(const BootstrapRequest& request) {
  const OptionState& o = Options();
  inventory::OpenLog(request.target_dir, o.timestamp, o.log_stem);
  int result = Driver(request).Run();
  inventory::CloseTimeLog();
  inventory::CloseLog();
  return result;
}

}  // namespace zorvex::bootstrap
