// Path helpers, the temporary directory, the run timestamp and the per-run scratch
// directory. Paths are plain byte strings with the target's separator.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace zorvex::paths {

// True when the path names an existing file or directory.
bool FileExists(const std::string& path);

// Joins in place with exactly one separator: an empty path becomes the component, a path
// ending in the separator gets the component appended, any other gets a separator first.
void AppendPath(std::string* path, const std::string& component);

// `dir` and `name` joined as AppendPath joins them.
std::string JoinPath(const std::string& dir, const std::string& name);

// The target's separator as a text.
std::string Separator();

// The path cut before its last separator; a path without one is copied whole. An empty
// path leaves `out` untouched.
void StripLastComponent(const std::string& path, std::string* out);

// The path itself when it exists, else its nearest ancestor that does: where making it
// would begin. The path unchanged when none of it exists.
std::string NearestExisting(const std::string& path);

// Creates the directory and its missing parents. 1 when it then exists and can be read
// and written, else 0.
int MakeDirectories(const std::string& path);

// True when the path does not depend on the working directory: "/..." on POSIX; "X:\...",
// "X:/...", "X:" (the root of a drive, as the launcher's directory D:\setup.exe reads) or
// "\\..." on Windows.
bool IsAbsolutePath(const std::string& path, const platform::PathStyle& style);

// True when the text can stand as one name in a path on either target: not empty, not "."
// or "..", and without "/", "\", ":" (a drive or a stream) or a NUL byte. A value from a
// medium that becomes one part of a path must be such a name, or it could lead elsewhere.
bool IsPlainName(const std::string& name);

// The one form Windows reads a path in (nothing on POSIX): the "\\?\" prefix dropped
// ("\\?\UNC\server\share" is "\\server\share"), and the trailing dots and blanks of each
// part, which Windows drops when it opens the name ("C:\rt\TMP3 " is "C:\rt\TMP3"), taken
// off, so that what the run checks, makes and uses is one directory.
void NormalizeWindowsPath(std::string* path, const platform::PathStyle& style);

// True when Windows reads a part of the path as a device ("C:\rs\NUL\", "\\.\COM1",
// "con.txt"), whatever the directory; never on POSIX.
bool NamesADevice(const std::string& path, const platform::PathStyle& style);

// True for the root of a file system, written absolute: "/" on POSIX; "X:", "X:\", "\",
// "\\server\share" on Windows. Trailing separators do not count.
bool IsRootDirectory(const std::string& path, const platform::PathStyle& style);

// True when the absolute `path` is `dir` or lies below it, comparing the texts component by
// component (letter case ignored on Windows); links are not resolved.
bool IsSameOrBelow(const std::string& path, const std::string& dir,
                   const platform::PathStyle& style);

// The directory of the running executable without a trailing separator. False after
// printing S_ERGOSLST when the executable's path cannot be read.
bool GetCurrentDir(std::string* out);

// The absolute form of the path; the path unchanged when there is none (with DEBUG,
// S_ERABS_PATH goes to standard error first).
void GetFullPath(std::string* out, const std::string& path);

// The temporary directory of a run, found once (held by the run's context).
struct TempDirectoryState {
  bool known = false;
  bool judged = false;
  std::string path;
  std::string named;     // as the environment names it, before links are resolved
  std::string variable;  // which variable named it
  std::string note;
  std::string refusal;
};

// True when the temporary-directory value passes the check of the target's style.
bool IsUsableTempPath(const std::string& path, const platform::PathStyle& style,
                      platform::System& system);

// The temporary directory to use, without a trailing separator: TEMP, else TMP (else
// TMPDIR on POSIX), "/" read as "\" on Windows, checked, and resolved through any link on
// its way once, at the first call of a run; every later call gives the same path.
void GetTempDirectory(std::string* out);
// Why the environment's value was not taken (the fallback is used), or empty.
const std::string& TempDirectoryNote();
// Why the temporary directory may hold nothing of the run's (a link of another user's on
// its way, a directory of theirs, one others may change), judged as named, once it
// exists: the message to show, or empty when it may.
const std::string& TempDirectoryRefusal();
// The variable that names the temporary directory ("TEMP", "TMP", "TMPDIR").
const std::string& TempVariable();

// Creates this run's scratch directory under the temporary directory, for its owner alone,
// and holds it (*held) to the end of the run; leaves its path in `path`. A name another
// run or user took is passed over (after the 1023 suffixes, random ones). False after the
// message of the failure, with nothing made.
bool CreateScratchDirectory(std::string* path, std::unique_ptr<platform::TreeWriter>* held);

// The run timestamp for a local time: "%Y-%m-%d_%I-%M-%S%p" in the C locale.
std::string FormatRunTimestamp(const std::tm& local);

// The run timestamp of now.
std::string TakeRunTimestamp();

}  // namespace zorvex::paths
