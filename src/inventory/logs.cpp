#include "inventory/logs.h"

#include <memory>
#include <optional>

#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/platform.h"

namespace zorvex::inventory {

namespace {

struct Log {
  std::unique_ptr<platform::AppendFile> file;
  std::string path;
};

Log g_install_log;
Log g_time_log;

std::string LogDirectory(const std::string& location, const std::string& fallback_dir) {
  if (location.empty()) return fallback_dir;
  return location + platform::Os().style->separator + "logs";
}

void Open(Log* log, const std::string& dir, const std::string& file_name) {
  std::string path = dir + platform::Os().style->separator + file_name;
  if (paths::MakeDirectories(dir) == 0) {
    // An earlier stream of this log stays in use; without one the log stays closed.
    if (!log->file) log->path.clear();
  } else {
    log->file = platform::Os().files->OpenForAppend(path);
    log->path = log->file ? path : "";
  }
  // Said once, where it happens: later messages that would name the log cannot.
  if (!log->file)
    messages::PrintText("The log " + path + " cannot be opened: what it would hold is not kept.\n");
}

void Write(Log* log, const std::string& text) {
  if (log->file) log->file->Write(text);
}

}  // namespace

namespace {
// The inventory location of this run: read at the first opening of a log, since nothing
// changes it before Java starts, and every later opening uses the same directory.
std::optional<std::string> g_inventory_location;
}  // namespace

void ForgetInventoryLocation() { g_inventory_location.reset(); }

std::string ReadInventoryLocation() {
  if (!g_inventory_location) g_inventory_location = ReadInventoryLocationFromRegistry();
  return *g_inventory_location;
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
  std::string location = Options().prereqlogloc;
  if (location.empty()) location = ReadInventoryLocation();
  Open(&g_install_log, LogDirectory(location, fallback_dir), log_stem + timestamp + ".log");
}

void OpenTimeLog(const std::string& fallback_dir, const std::string& timestamp) {
  Open(&g_time_log, LogDirectory(ReadInventoryLocation(), fallback_dir),
       "time" + timestamp + ".log");
}

void CloseLog() { g_install_log.file.reset(); }

void CloseTimeLog() { g_time_log.file.reset(); }

void WriteLog(const std::string& text) { Write(&g_install_log, text); }

void WriteTimeLog(const std::string& text) { Write(&g_time_log, text); }

void PrintAndLog(const std::string& text) {
  messages::PrintText(text);
  WriteLog(text);
}

void ReportMessage(const std::string& key, const messages::FormatArgs& args) {
  messages::PrintText(messages::FormatMessageText(key, args));
  WriteLog(messages::FormatLogMessageText(key, args));
}

const std::string& InstallLogPath() { return g_install_log.path; }

bool ProbeRegistryWriteAccess() {
  platform::Registry& registry = *platform::Os().registry;
  const std::string key = "Software";
  const std::string probe = "zorvex_zek_tmp";
  const std::string where = "HKEY_LOCAL_MACHINE\\" + key;
  std::unique_ptr<platform::RegistryLock> lock = registry.LockForProbe();
  if (!registry.OpenForWrite(key)) {
    PrintAndLog("The registry key " + where + " cannot be opened for writing.\n");
    return false;
  }
  if (!registry.SetStringValue(key, probe, "temp value")) {
    registry.DeleteValue(key, probe);  // a value made but not written whole
    PrintAndLog("The value " + probe + " cannot be written to the registry key " + where + ".\n");
    return false;
  }
  // What the probe made and cannot remove stays in the machine's registry: it is named, so
  // that it can be removed by hand.
  if (!registry.DeleteValue(key, probe)) {
    PrintAndLog("The registry value " + where + "\\" + probe +
                ", written to test access, cannot be removed; remove it by hand.\n");
  }
  if (!registry.CreateKey(key + "\\" + probe, "temp key")) {
    registry.DeleteKey(key + "\\" + probe);  // a key made, then not reported made
    PrintAndLog("The key " + probe + " cannot be made below the registry key " + where + ".\n");
    return false;
  }
  if (!registry.DeleteKey(key + "\\" + probe)) {
    PrintAndLog("The registry key " + where + "\\" + probe +
                ", made to test access, cannot be removed; remove it by hand.\n");
  }
  return true;
}

}  // namespace zorvex::inventory
