#include "inventory/logs.h"

#include <map>
#include <memory>
#include <optional>
#include <set>

#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/platform.h"
#include "run/run_context.h"

namespace zorvex::inventory {

namespace {

LogState& RunLogs() { return CurrentRun().logs; }

// Runs of one second share a log's name: a name taken gets the next free suffix.
constexpr int kMaxLogSuffix = 1023;

std::string Suffixed(const std::string& path, int suffix) {
  if (suffix == 0) return path;
  const std::string stem = path.substr(0, path.size() - 4);  // without ".log"
  return stem + "_" + std::to_string(suffix) + ".log";
}

void SayOnce(const std::string& key, const std::string& text) {
  if (RunLogs().made.said.insert(key).second) messages::PrintText(text);
}

std::unique_ptr<platform::AppendFile> OpenMade(std::string wanted, std::string* path) {
  platform::FileSystem& files = *platform::Os().files;
  if (auto named = RunLogs().made.names.find(wanted); named != RunLogs().made.names.end()) {
    *path = named->second;
    return files.OpenLogFile(*path, false, &RunLogs().made.ids[*path]);
  }
  for (int suffix = 0; suffix <= kMaxLogSuffix; ++suffix) {
    *path = Suffixed(wanted, suffix);
    safetree::FileId id;
    if (std::unique_ptr<platform::AppendFile> file = files.OpenLogFile(*path, true, &id)) {
      RunLogs().made.ids[*path] = id;
      RunLogs().made.names[wanted] = *path;
      return file;
    }
    if (!files.Identify(*path, &id)) break;  // not taken: it cannot be made at all
  }
  *path = wanted;
  return nullptr;
}

void Open(Log* log, const std::string& dir, const std::string& file_name) {
  std::string path = dir + platform::Os().style->separator + file_name;
  std::unique_ptr<platform::AppendFile> file = dir.empty() ? nullptr : OpenMade(path, &path);
  if (file || !log->file) {
    log->file = std::move(file);
    log->path = log->file ? path : "";
  }
  // Said once, where it happens: later messages that would name the log cannot.
  if (!log->file) {
    SayOnce(path, messages::FormatMessageText("S_LOG_NOT_OPENED", {path}));
  }
}

// The directory a log goes to: {location}/logs (the inventory's, PREREQLOGLOC's, or the
// temporary directory's that the prerequisite checker takes by default), made when
// missing, unless the place it is made in lets another user steer it, a link stands there,
// or it is not the user's alone; then the fallback directory, the run's own. No log is
// written, and no directory made, where another user could swap or read it.
std::string LogDirectory(const std::string& location, const std::string& fallback) {
  if (location.empty()) return fallback;
  platform::FileSystem& files = *platform::Os().files;
  const std::string dir = location + platform::Os().style->separator + "logs";
  std::string why;
  if (!files.IsLink(dir) && !files.CheckSharedDirectory(paths::NearestExisting(dir), &why)) {
    why += ".";
  } else if (paths::MakeDirectories(dir) == 0) {
    why = dir + " cannot be created, or it is not writable.";
  } else if (files.IsLink(dir)) {
    why = dir + " is a link, which is not followed.";
  } else {
    files.CheckPrivateDirectory(dir, &why);
  }
  if (why.empty()) return dir;
  SayOnce(dir, fallback.empty()
                   ? messages::FormatMessageText("S_LOGS_NOWHERE", {dir, why})
                   : messages::FormatMessageText("S_LOGS_ELSEWHERE", {dir, why, fallback}));
  return fallback;
}

void Write(Log* log, const std::string& text) {
  if (log->file) log->file->Write(text);
}

}  // namespace

std::string ReadInventoryLocation() {
  if (!RunLogs().inventory_location)
    RunLogs().inventory_location = ReadInventoryLocationFromRegistry();
  return *RunLogs().inventory_location;
}

std::string ReadInventoryLocationFromRegistry() {
  platform::Registry& registry = *platform::Os().registry;
  std::string value;
  platform::Registry::ReadResult r = registry.ReadValue(kInventoryKey, kInventoryValue, &value);
  if (r == platform::Registry::ReadResult::kNoKey) {
    r = registry.ReadValue(kInventoryKey32, kInventoryValue, &value);
  }
  if (r != platform::Registry::ReadResult::kOk || value.empty()) return "";
  // A relative location is taken where the run first reads it: the working directory
  // moves during the run, and one run's logs belong in one directory.
  std::string full;
  paths::GetFullPath(&full, value);
  return full;
}

void OpenLog(const std::string& fallback_dir, const std::string& timestamp,
             const std::string& log_stem) {
  const std::string& chosen = Options().prereqlogloc;
  const std::string dir =
      LogDirectory(chosen.empty() ? ReadInventoryLocation() : chosen, fallback_dir);
  Open(&RunLogs().install, dir, log_stem + timestamp + ".log");
}

void OpenTimeLog(const std::string& fallback_dir, const std::string& timestamp) {
  Open(&RunLogs().time, LogDirectory(ReadInventoryLocation(), fallback_dir),
       "time" + timestamp + ".log");
}

void AppendToInstallLog(const std::string& text) {
  const std::string& path = RunLogs().install.path;
  auto made = RunLogs().made.ids.find(path);
  if (path.empty() || made == RunLogs().made.ids.end()) return;
  if (std::unique_ptr<platform::AppendFile> log =
          platform::Os().files->OpenLogFile(path, false, &made->second)) {
    log->Write(text);
  }
}

bool IsRunLog(const std::string& path) {
  auto made = RunLogs().made.ids.find(path);
  safetree::FileId now;
  return made != RunLogs().made.ids.end() && platform::Os().files->Identify(path, &now) &&
         now == made->second;
}

void CloseLog() { RunLogs().install.file.reset(); }

void CloseTimeLog() { RunLogs().time.file.reset(); }

void WriteLog(const std::string& text) { Write(&RunLogs().install, text); }

void WriteTimeLog(const std::string& text) { Write(&RunLogs().time, text); }

void PrintAndLog(const std::string& text) {
  messages::PrintText(text);
  WriteLog(text);
}

void ReportMessage(const std::string& key, const messages::FormatArgs& args) {
  messages::PrintText(messages::FormatMessageText(key, args));
  WriteLog(messages::FormatLogMessageText(key, args));
}

const std::string& InstallLogPath() { return RunLogs().install.path; }

bool ProbeRegistryWriteAccess() {
  platform::Registry& registry = *platform::Os().registry;
  const std::string key = "Software";
  const std::string probe = "zorvex_zek_tmp";
  const std::string where = "HKEY_LOCAL_MACHINE\\" + key;
  std::unique_ptr<platform::RegistryLock> lock = registry.LockForProbe();
  if (!registry.OpenForWrite(key)) {
    ReportMessage("S_REG_NOT_WRITABLE", {where});
    return false;
  }
  if (!registry.SetStringValue(key, probe, "temp value")) {
    registry.DeleteValue(key, probe);  // a value made but not written whole
    ReportMessage("S_REG_VALUE_NOT_WRITTEN", {probe, where});
    return false;
  }
  // What the probe made and cannot remove stays in the machine's registry: it is named, so
  // that it can be removed by hand.
  if (!registry.DeleteValue(key, probe)) {
    ReportMessage("S_REG_VALUE_LEFT", {where + "\\" + probe});
  }
  if (!registry.CreateKey(key + "\\" + probe, "temp key")) {
    registry.DeleteKey(key + "\\" + probe);  // a key made, then not reported made
    ReportMessage("S_REG_KEY_NOT_MADE", {probe, where});
    return false;
  }
  if (!registry.DeleteKey(key + "\\" + probe)) {
    ReportMessage("S_REG_KEY_LEFT", {where + "\\" + probe});
  }
  return true;
}

}  // namespace zorvex::inventory
