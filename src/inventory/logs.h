// The install log and the time log beside the machine's product inventory (or in the
// scratch directory when there is none), and the probe of write access to the registry.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "messages/format.h"
#include "platform/platform.h"

namespace zorvex::inventory {

inline constexpr char kInventoryKey[] = "SOFTWARE\\ZORVEX";
inline constexpr char kInventoryKey32[] = "SOFTWARE\\WOW6432NODE\\ZORVEX";
inline constexpr char kInventoryValue[] = "inst_loc";

// The inventory location from the registry: "inst_loc" of the first key, or of the
// 32-bit view's key when the first key does not exist, made absolute. Empty when there is
// none. ReadInventoryLocation reads it once in a run and keeps it.
std::string ReadInventoryLocation();
std::string ReadInventoryLocationFromRegistry();

// The logs of a run (held by the run's context).
struct Log {
  std::unique_ptr<platform::AppendFile> file;
  std::string path;
};
// The log files a run made, with what they are: a log's name is taken only by making a
// new file there, and a log is opened again only while its name leads to that file, so
// that no file of anyone else's (a link planted in a shared directory, a user's file of
// the same name) is ever appended to. `names` maps the name a log wants to the one it got.
struct MadeLogs {
  std::map<std::string, safetree::FileId> ids;
  std::map<std::string, std::string> names;
  std::set<std::string> said;  // directories and logs already reported
};
struct LogState {
  Log install;
  Log time;
  MadeLogs made;
  // Read at the first opening of a log, since nothing changes it before Java starts:
  // every later opening uses the same directory.
  std::optional<std::string> inventory_location;
};

// Opens the install log {dir}{sep}{log_stem}{timestamp}.log for appending. The directory is
// PREREQLOGLOC/logs, else {inventory}/logs, else `fallback_dir` (which is never made: it is
// the run's own scratch directory, or the temporary directory); a logs directory that is
// a link or not the user's alone, or that would be made where another user could steer
// it, gives way to `fallback_dir`. A log is a
// file the run makes: its name taken by another file, the next free suffix "_N" is used;
// opened again, it must still be that file.
void OpenLog(const std::string& fallback_dir, const std::string& timestamp,
             const std::string& log_stem);
// Opens the time log {dir}{sep}time{timestamp}.log; it never looks at PREREQLOGLOC.
void OpenTimeLog(const std::string& fallback_dir, const std::string& timestamp);
void CloseLog();
void CloseTimeLog();
// Appends the text and flushes; nothing when the log is closed.
void WriteLog(const std::string& text);
void WriteTimeLog(const std::string& text);
// Prints the text to the console, then writes it to the install log.
void PrintAndLog(const std::string& text);
// Prints the message-catalogue text of the key and logs its log-catalogue text.
void ReportMessage(const std::string& key, const messages::FormatArgs& args = {});
// The path of the install log last opened; empty when the last opening failed.
const std::string& InstallLogPath();
// Appends to the install log last opened, when its name still leads to the file the run
// made (debug runs: Java's argument list).
void AppendToInstallLog(const std::string& text);
// True when the path names a log file this run made, and still that file.
bool IsRunLog(const std::string& path);

// True when values and keys can be created and deleted under HKEY_LOCAL_MACHINE\Software.
bool ProbeRegistryWriteAccess();

}  // namespace zorvex::inventory
