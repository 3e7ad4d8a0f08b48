#include "paths/paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"
#include "run/run_context.h"
#include "safetree/tree.h"

namespace zorvex::paths {

namespace {

constexpr int kMaxScratchSuffix = 1023;
constexpr int kRandomScratchTries = 16;
constexpr char kScratchPrefix[] = "ZorInstall";

char Sep() { return platform::Os().style->separator; }

// Removes one trailing separator, but never the root of a POSIX path.
void DropTrailingSeparator(std::string* path) {
  if (path->size() > 1 && path->back() == Sep()) path->pop_back();
}

}  // namespace

bool FileExists(const std::string& path) { return platform::Os().files->Exists(path); }

void AppendPath(std::string* path, const std::string& component) {
  if (!path->empty() && path->back() != Sep()) path->push_back(Sep());
  *path += component;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  std::string path = dir;
  AppendPath(&path, name);
  return path;
}

std::string Separator() { return std::string(1, Sep()); }

void StripLastComponent(const std::string& path, std::string* out) {
  if (path.empty()) return;
  size_t cut = path.find_last_of(Sep());
  *out = cut == std::string::npos ? path : path.substr(0, cut);
}

std::string NearestExisting(const std::string& path) {
  std::string dir = path;
  while (!FileExists(dir)) {
    std::string up;
    StripLastComponent(dir, &up);
    if (up == dir || up.empty()) return path;
    dir = up;
  }
  return dir;
}

int MakeDirectories(const std::string& path) {
  platform::FileSystem& files = *platform::Os().files;
  // A file of that name is no directory, however writable it is.
  if (files.Exists(path)) return files.IsDirectory(path) && files.CanReadWrite(path) ? 1 : 0;
  std::string parent;
  StripLastComponent(path, &parent);
  if (!parent.empty() && parent != path && MakeDirectories(parent) == 0) return 0;
  files.MakeDir(path, false);
  return files.CanReadWrite(path) ? 1 : 0;
}

bool IsAbsolutePath(const std::string& path, const platform::PathStyle& style) {
  if (!style.drive_letters) return !path.empty() && path[0] == '/';
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return true;
  // "D:" alone is the drive's root here: it is what the launcher's directory reads when
  // it runs from a disc or stick, D:\setup.exe.
  if (path.size() == 2 && path[1] == ':') return true;
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

namespace {

// The path with "/" read as "\" on Windows and without trailing separators.
std::string Comparable(const std::string& path, const platform::PathStyle& style) {
  std::string p = path;
  for (char& c : p) {
    if (style.drive_letters && c == '/') c = '\\';
    if (style.drive_letters) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  while (!p.empty() && p.back() == style.separator) p.pop_back();
  return p;
}

}  // namespace

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

void NormalizeWindowsPath(std::string* path, const platform::PathStyle& style) {
  if (!style.drive_letters) return;
  if (path->rfind("\\\\?\\UNC\\", 0) == 0) {
    path->replace(0, 8, "\\\\");
  } else if (path->rfind("\\\\?\\", 0) == 0) {
    path->erase(0, 4);
  }
  std::string out;
  size_t from = 0;
  while (from <= path->size()) {
    size_t end = std::min(path->find_first_of("\\/", from), path->size());
    std::string part = path->substr(from, end - from);
    if (part != "." && part != "..") {
      while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    }
    out += part;
    if (end < path->size()) out += (*path)[end];
    from = end + 1;
  }
  *path = out;
}

bool NamesADevice(const std::string& path, const platform::PathStyle& style) {
  if (!style.drive_letters) return false;
  if (path.rfind("\\\\.\\", 0) == 0) return true;
  size_t from = 0;
  while (from <= path.size()) {
    size_t end = std::min(path.find_first_of("\\/", from), path.size());
    if (safetree::IsWindowsDeviceName(path.substr(from, end - from))) return true;
    from = end + 1;
  }
  return false;
}

bool IsRootDirectory(const std::string& path, const platform::PathStyle& style) {
  std::string p = Comparable(path, style);
  if (!style.drive_letters) return p.empty() && !path.empty() && path[0] == '/';
  if (p.empty()) return !path.empty();  // "\" alone: the current drive's root
  if (p.size() == 2 && p[1] == ':') return true;
  if (p.rfind("\\\\", 0) == 0) {
    // \\server\share: the root of a network share
    size_t share = p.find('\\', 2);
    return share != std::string::npos && p.find('\\', share + 1) == std::string::npos;
  }
  return false;
}

bool IsSameOrBelow(const std::string& path, const std::string& dir,
                   const platform::PathStyle& style) {
  std::string p = Comparable(path, style);
  std::string d = Comparable(dir, style);
  if (p == d) return true;
  return p.size() > d.size() && p.compare(0, d.size(), d) == 0 && p[d.size()] == style.separator;
}

bool GetCurrentDir(std::string* out) {
  std::string module;
  uint32_t error = 0;
  if (!platform::Os().system->ModulePath(&module, &error)) {
    messages::PrintMessage("S_ERGOSLST", {"GetCurrentDir()", error});
    return false;
  }
  size_t cut = module.find_last_of(Sep());
  *out = cut == std::string::npos ? "" : module.substr(0, cut + 1);
  DropTrailingSeparator(out);
  return true;
}

void GetFullPath(std::string* out, const std::string& path) {
  std::string full;
  if (platform::Os().files->FullPath(path, &full)) {
    *out = full;
    return;
  }
  if (Options().debug) {
    std::string text = messages::FormatMessageText("S_ERABS_PATH", {path});
    platform::Os().console->WriteStderr(text + ": " + std::strerror(errno) + "\n");
  }
  *out = path;
}

bool IsUsableTempPath(const std::string& path, const platform::PathStyle& style,
                      platform::System& system) {
  if (path.size() < 2) return false;
  if (!style.drive_letters) {
    return path[0] == '/' && path.find_first_of("*?<>:|;") == std::string::npos;
  }
  size_t checked_from = 0;
  if (path[0] == '\\') {
    checked_from = 0;
  } else if (path.size() >= 3 && system.IsAnsiLetter(static_cast<unsigned char>(path[0])) &&
             path[1] == ':' && path[2] == '\\') {
    checked_from = 2;
  } else {
    return false;
  }
  return path.find_first_of("/*?<>:|;", checked_from) == std::string::npos;
}

namespace {

TempDirectoryState& RunTemp() { return CurrentRun().temp; }

// The directory as the environment names it, checked: what fails the check gives the
// fallback, and a note that says so.
std::string TempFromEnvironment(std::string* note, std::string* variable) {
  platform::Platform& os = platform::Os();
  const char* name = "TEMP";
  std::optional<std::string> value = os.system->GetEnv(name);
  if (!value) value = os.system->GetEnv(name = "TMP");
  // POSIX shells name their temporary directory TMPDIR; it is asked only when neither of
  // the launcher's own variables is set.
  if (!value && !os.style->drive_letters) value = os.system->GetEnv(name = "TMPDIR");
  *variable = value ? name : "TEMP";
  if (!value) return os.style->temp_fallback;
  std::string dir = *value;
  // Windows takes "/" as a separator as well: C:/Temp is C:\Temp, not a path to refuse; and
  // it reads "C:\rt\TMP3 " (a blank typed after a batch file's "set") as C:\rt\TMP3.
  if (os.style->drive_letters) std::replace(dir.begin(), dir.end(), '/', '\\');
  NormalizeWindowsPath(&dir, *os.style);
  if (IsUsableTempPath(dir, *os.style, *os.system) && !NamesADevice(dir, *os.style)) return dir;
  *note = std::string(name) + " (" + *value + ") is no usable directory path; the installer uses " +
          os.style->temp_fallback + " instead.\n";
  return os.style->temp_fallback;
}

}  // namespace

const std::string& TempDirectoryNote() { return RunTemp().note; }

const std::string& TempDirectoryRefusal() { return RunTemp().refusal; }

const std::string& TempVariable() { return RunTemp().variable; }

namespace {

// Judges the temporary directory as it is named, when it exists: a link of another user's
// on its way, or a directory they may change, would lead what the run writes there (its
// scratch directory, a kept log) wherever they point it. Then it is resolved once and used
// as resolved: a link turned elsewhere later leads none of the run's paths with it.
void JudgeTempDirectory() {
  platform::FileSystem& files = *platform::Os().files;
  if (RunTemp().judged || !files.Exists(RunTemp().named)) return;
  RunTemp().judged = true;
  std::string why;
  if (!files.CheckSharedDirectory(RunTemp().named, &why)) {
    RunTemp().refusal = messages::FormatMessageText("S_ERTEMP_UNSAFE", {why, RunTemp().variable});
  }
  std::string resolved;
  if (files.ResolvePath(RunTemp().named, &resolved)) RunTemp().path = resolved;
}

}  // namespace

void GetTempDirectory(std::string* out) {
  if (!RunTemp().known) {
    RunTemp().path = TempFromEnvironment(&RunTemp().note, &RunTemp().variable);
    DropTrailingSeparator(&RunTemp().path);
    RunTemp().named = RunTemp().path;
    RunTemp().known = true;
    JudgeTempDirectory();
  }
  *out = RunTemp().path;
}

bool CreateScratchDirectory(std::string* path, std::unique_ptr<platform::TreeWriter>* held) {
  std::string temp;
  GetTempDirectory(&temp);
  *path = temp;
  if (MakeDirectories(temp) == 0) {
    messages::ShowError(messages::FormatMessageText("S_ERPERDIR", {temp}));
    return false;
  }
  // Made just now: judged and resolved as it stands, once.
  JudgeTempDirectory();
  temp = RunTemp().path;
  if (!RunTemp().refusal.empty()) {
    messages::ShowError(RunTemp().refusal);
    return false;
  }
  platform::FileSystem& files = *platform::Os().files;
  OptionState& options = Options();
  if (options.prereqchecker && options.prereqlogloc.empty()) options.prereqlogloc = temp;
  std::string base = temp;
  AppendPath(&base, kScratchPrefix + options.timestamp);  // "Y:\" gets no second separator
  // The name is taken by creating it: a second launcher started in the same second finds
  // the directory there and moves on to the next suffix, so no two runs share one. Names
  // another user took in a shared TEMP cost a try with a random suffix, not the run.
  // Only the owner may enter it, so no other user can plant files in it.
  std::random_device random;
  for (int attempt = 0; attempt <= kMaxScratchSuffix + kRandomScratchTries; ++attempt) {
    std::string name = attempt == 0 ? base : base + "_" + std::to_string(attempt);
    if (attempt > kMaxScratchSuffix) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(random()));
      name = base + "_" + hex;
    }
    platform::FileSystem::MakeDirResult r = files.MakeDir(name, true);
    if (r == platform::FileSystem::MakeDirResult::kAlreadyExists) continue;
    *path = name;
    std::string why;
    safetree::FileId made;
    if (r == platform::FileSystem::MakeDirResult::kCreated &&
        files.CheckPrivateDirectory(name, &why) && (*held = files.HoldTree(name, &why))) {
      // The directory held must be the one made and checked, by the name the run uses.
      if (files.Identify(name, &made) && made == (*held)->RootId()) return true;
      held->reset();
      files.RemoveDir(name);
      messages::ShowError(messages::FormatMessageText("S_ERTWO_DIRECTORIES", {name}));
      return false;
    }
    if (r == platform::FileSystem::MakeDirResult::kCreated) files.RemoveDir(name);
    // Made, but on a way another user may change (a TEMP of theirs): not used. Or say why
    // the run ends (a name too long for the system, say), not end without a word.
    messages::ShowError(messages::FormatMessageText("S_ERPERDIR", {name}) +
                        (why.empty() ? "" : why + "\n"));
    return false;
  }
  messages::ShowError(messages::FormatMessageText("S_ERPERDIR", {base}));
  *path = base;
  return false;
}

std::string FormatRunTimestamp(const std::tm& local) {
  char buffer[64];
  size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d_%I-%M-%S%p", &local);
  return std::string(buffer, n);
}

std::string TakeRunTimestamp() { return FormatRunTimestamp(platform::Os().system->LocalTime()); }

}  // namespace zorvex::paths
