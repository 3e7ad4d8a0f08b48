#include "paths/paths.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"

namespace zorvex::paths {

namespace {

constexpr int kMaxScratchSuffix = 1023;
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

void StripLastComponent(const std::string& path, std::string* out) {
  if (path.empty()) return;
  size_t cut = path.find_last_of(Sep());
  *out = cut == std::string::npos ? path : path.substr(0, cut);
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

int GetCurrentDir(std::string* out) {
  std::string module;
  uint32_t error = 0;
  if (!platform::Os().system->ModulePath(&module, &error)) {
    messages::PrintMessage("S_ERGOSLST", {"GetCurrentDir()", error});
    return -1;
  }
  size_t cut = module.find_last_of(Sep());
  *out = cut == std::string::npos ? "" : module.substr(0, cut + 1);
  DropTrailingSeparator(out);
  return 0;
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

void GetTempDirectory(std::string* out) {
  platform::Platform& os = platform::Os();
  std::optional<std::string> value = os.system->GetEnv("TEMP");
  if (!value) value = os.system->GetEnv("TMP");
  // POSIX shells name their temporary directory TMPDIR; it is asked only when neither of
  // the launcher's own variables is set.
  if (!value && !os.style->drive_letters) value = os.system->GetEnv("TMPDIR");
  *out =
      value && IsUsableTempPath(*value, *os.style, *os.system) ? *value : os.style->temp_fallback;
  DropTrailingSeparator(out);
}

int CreateScratchDirectory(std::string* path) {
  std::string temp;
  GetTempDirectory(&temp);
  *path = temp;
  if (MakeDirectories(temp) == 0) {
    messages::ShowError(messages::FormatMessageText("S_ERPERDIR", {temp}));
    return -1;
  }
  OptionState& options = Options();
  if (options.prereqchecker && options.prereqlogloc.empty()) options.prereqlogloc = temp;
  std::string base = temp + Sep() + kScratchPrefix + options.timestamp;
  // The name is taken by creating it: a second launcher started in the same second finds
  // the directory there and moves on to the next suffix, so no two runs share one.
  // Only the owner may enter it, so no other user can plant files in it.
  platform::FileSystem& files = *platform::Os().files;
  for (int suffix = 0; suffix <= kMaxScratchSuffix; ++suffix) {
    std::string name = suffix == 0 ? base : base + "_" + std::to_string(suffix);
    platform::FileSystem::MakeDirResult r = files.MakeDir(name, true);
    if (r == platform::FileSystem::MakeDirResult::kAlreadyExists) continue;
    *path = name;
    std::string why;
    if (r == platform::FileSystem::MakeDirResult::kCreated &&
        files.CheckPrivateDirectory(name, &why)) {
      return 0;
    }
    if (!why.empty()) {
      // Made, but on a way another user may change (a TEMP of theirs): not used.
      files.RemoveDir(name);
      messages::ShowError(messages::FormatMessageText("S_ERPERDIR", {name}) + why + "\n");
      return -1;
    }
    // Say why the run ends (a name too long for the system, say), not end without a word.
    messages::ShowError(messages::FormatMessageText("S_ERPERDIR", {name}));
    return -1;
  }
  messages::ShowError(messages::FormatMessageText("S_ERPERDIR", {base}));
  *path = base;
  return -1;
}

std::string FormatRunTimestamp(const std::tm& local) {
  char buffer[64];
  size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%d_%I-%M-%S%p", &local);
  return std::string(buffer, n);
}

std::string TakeRunTimestamp() { return FormatRunTimestamp(platform::Os().system->LocalTime()); }

}  // namespace zorvex::paths
