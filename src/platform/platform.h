// The launcher's only door to the operating system. Every system call that the launcher
// makes goes through one of these small interfaces; the Win32 and POSIX implementations
// live in win32/ and posix/, the test doubles in tests/doubles/. Composite operations
// (making parent directories, copying trees, probing the registry) are written once in
// the launcher's own code on top of these primitives.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "safetree/tree.h"

namespace zorvex::platform {

// How the target writes paths and names its programs. Shared code never hard-codes a
// separator, so the Windows rules can be exercised on Linux and the other way round.
struct PathStyle {
  char separator;             // '\\' on Windows, '/' on POSIX
  char class_path_separator;  // ';' on Windows, ':' on POSIX
  const char* javaw_name;     // "javaw.exe" / "java"
  const char* java_name;      // "java.exe" / "java"
  const char* temp_fallback;  // "C:\\TEMP" / "/tmp"
  const char* os_name;        // "Windows" / "Linux"
  bool drive_letters;         // paths may start with "C:\"
};

extern const PathStyle kWindowsStyle;
extern const PathStyle kPosixStyle;

struct DirEntry {
  std::string name;
  bool is_directory = false;  // a directory to descend into: never a link
  // A symbolic link, junction or other reparse point, whatever it points at. A walk never
  // descends into one: what it names may lie anywhere, also outside the tree.
  bool is_link = false;
  // Neither a directory, a regular file nor a link: a pipe, a device, a socket. Never
  // opened: reading one may wait for ever or never end.
  bool is_special = false;
  // What the entry is, whatever name reaches it; filled by TreeWriter::List and Find.
  safetree::FileId id;
};

// Files larger than this are not read whole: nothing the launcher reads (a catalogue, a
// parameter file) comes near it, and a device or an endless file must not fill memory.
inline constexpr uint64_t kMaxReadBytes = 8u << 20;

// An open append-mode text file: every write goes to the file at once.
class AppendFile {
 public:
  virtual ~AppendFile() = default;
  // Writes the bytes and flushes them. Returns false when the write failed.
  virtual bool Write(const std::string& bytes) = 0;
};

class TreeWriter;

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // True when the path names an existing file or directory.
  virtual bool Exists(const std::string& path) = 0;
  // True when the path exists and the caller may read and write it.
  virtual bool CanReadWrite(const std::string& path) = 0;
  // True when the path names a directory (a link to one included).
  virtual bool IsDirectory(const std::string& path) = 0;
  enum class MakeDirResult { kCreated, kAlreadyExists, kFailed };
  // Creates one directory level. `owner_only` asks for a directory that no other user
  // may write into (0700 on POSIX; Windows keeps its inherited ACL).
  virtual MakeDirResult MakeDir(const std::string& path, bool owner_only) = 0;
  // True when the directory is the user's alone, so that nothing the run puts there can be
  // swapped by another user: no link or junction, owned by the user running (or by root,
  // SYSTEM or the Administrators), writable by no other user, and (POSIX) no ancestor that
  // another user may rename or replace (each owned by root or the user and writable by no
  // other, unless sticky). False with *why naming the directory, its owner and the
  // permission that is too wide.
  virtual bool CheckPrivateDirectory(const std::string& path, std::string* why) = 0;
  // True when a directory others may share (TEMP, an inventory) lets no other user steer
  // what the run makes in it: reached through no link that another user owns, owned by the
  // user running (or root, SYSTEM, the Administrators), writable by others only when sticky
  // (they may add entries of their own but not rename or replace the run's), and (POSIX)
  // every directory above it likewise. False with *why naming the path and what is wrong.
  virtual bool CheckSharedDirectory(const std::string& path, std::string* why) = 0;
  // Removes an empty directory / a file. Return false on failure.
  virtual bool RemoveDir(const std::string& path) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // True when the path itself is a link (not followed). Removes such a link, never what it
  // points at.
  virtual bool IsLink(const std::string& path) = 0;
  virtual bool RemoveLink(const std::string& path) = 0;
  // Makes `to` a link with the same target as `from`. kNotCopied where the platform does
  // not copy links (Windows: making one needs a privilege an installer cannot count on).
  enum class LinkCopy { kCopied, kFailed, kNotCopied };
  virtual LinkCopy CopyLink(const std::string& from, const std::string& to) = 0;
  // Copies a file, overwriting the destination; the copy is readable and writable by its
  // owner (on Windows: not read-only), whatever the source was. False on failure.
  virtual bool CopyFileOverwriting(const std::string& from, const std::string& to) = 0;
  // Moves a file or directory to a new name; false when that name exists already. A
  // regular file goes to another volume too: copied to the new name, then removed.
  virtual bool MoveFileNoReplace(const std::string& from, const std::string& to) = 0;
  // Lists a directory in the platform's order, "." and ".." included where the platform
  // reports them; `dir` itself may be a link. False when it cannot be listed.
  virtual bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) = 0;
  enum class ReadResult { kOk, kCannotOpen, kTooLarge };
  // Reads a whole regular file as bytes. kCannotOpen also for anything that is not a
  // regular file (a directory, a device, a pipe); kTooLarge above kMaxReadBytes.
  virtual ReadResult ReadFile(const std::string& path, std::string* bytes) = 0;
  // Counts and hashes (SHA-256) the bytes of a regular file of any size, never through a
  // link at its name. False when it is no regular file (a pipe, a device) or cannot be
  // read to its end.
  virtual bool HashFile(const std::string& path, uint64_t* size,
                        std::array<uint8_t, 32>* sha256) = 0;
  // The target of the link at the path, as stored. False when the path is no link.
  virtual bool ReadLink(const std::string& path, std::string* target) = 0;
  // Opens a log file for appending, never through a link at its name. With `create`, a
  // new file that no one made before (null when the name is taken), its identity in *id;
  // without, the file made before, when the name still leads to the file *id names. Null
  // on failure.
  virtual std::unique_ptr<AppendFile> OpenLogFile(const std::string& path, bool create,
                                                  safetree::FileId* id) = 0;
  // What stands at the path, the path's last part not followed when it is a link. False
  // when nothing does.
  virtual bool Identify(const std::string& path, safetree::FileId* id) = 0;
  // The path with every link on its way resolved, absolute: where it leads now. False when
  // it leads nowhere.
  virtual bool ResolvePath(const std::string& path, std::string* resolved) = 0;
  // The absolute form of a path; false when the platform cannot make one.
  virtual bool FullPath(const std::string& path, std::string* full) = 0;
  // Makes the path the process's working directory. False on failure.
  virtual bool SetWorkingDirectory(const std::string& path) = 0;
  // Free space available to the calling user on the volume of the path, in KiB.
  virtual bool FreeSpaceKb(const std::string& path, uint64_t* kb) = 0;
  // A writer below `root`, which is made with its parents when missing and `make`. Null
  // when the root cannot be made or opened.
  virtual std::unique_ptr<TreeWriter> OpenTreeWriter(const std::string& root, bool make) = 0;
  // A writer below a directory the run holds to its end (see safetree::HoldTree): never a
  // link at its name, and on Windows one nobody can rename or remove meanwhile. Null with
  // *why when it cannot be opened so.
  virtual std::unique_ptr<TreeWriter> HoldTree(const std::string& root, std::string* why) = 0;
};

// Writes below one directory, the root: the staging copy's only way to write. `rel` names
// a place below the root, names joined with "/", none of them "." or "..". Nothing is
// made or written through a link (or reparse point) that stands below the root, so that
// what an unpacked archive or another user left there never leads a write elsewhere.
class TreeWriter {
 public:
  virtual ~TreeWriter() = default;
  // Makes the directory and its missing parents. False when it cannot, or when a link or
  // a file stands where one of them goes.
  virtual bool MakeDirs(const std::string& rel) = 0;
  // What a file copied from a verified medium must be: the copy hashes the very bytes it
  // writes and keeps the file only when they are these, so that nothing swapped in
  // between a check and the copy gets through.
  struct Expected {
    uint64_t size = 0;
    std::array<uint8_t, 32> sha256 = {};
  };
  // Copies the regular file `from` to `rel`, replacing a file or link there (never
  // writing through it); the copy keeps the source's time and is readable and writable by
  // its owner. False when `from` is no regular file or the copy fails; with `expected`,
  // also when the bytes are not those (*mismatch then says how they differ).
  virtual bool CopyRegularFile(const std::string& from, const std::string& rel,
                               const Expected* expected, std::string* mismatch) = 0;
  bool CopyRegularFile(const std::string& from, const std::string& rel) {
    return CopyRegularFile(from, rel, nullptr, nullptr);
  }
  // Makes `rel` a link with the target of the link `from`, as FileSystem::CopyLink; with
  // `expected_target`, only when the link read has that target (kFailed otherwise).
  virtual FileSystem::LinkCopy CopyLink(const std::string& from, const std::string& rel,
                                        const std::string* expected_target) = 0;
  FileSystem::LinkCopy CopyLink(const std::string& from, const std::string& rel) {
    return CopyLink(from, rel, nullptr);
  }
  // The entries of the directory `rel` ("." and ".." left out) with their identities, read
  // through its handle. False when it cannot be opened as a directory below the root.
  virtual bool List(const std::string& rel, std::vector<DirEntry>* entries) = 0;
  // What stands at `rel` as the file system resolves the name (on Windows also another
  // letter case or a short name): true with the entry under the name it keeps, else false.
  virtual bool Find(const std::string& rel, DirEntry* found) = 0;
  // Removes `rel` and everything below it through the handles of its directories, a link
  // as a link, read-only files included; what cannot go is added to *left.
  virtual void Remove(const std::string& rel, std::vector<std::string>* left) = 0;
  // Gives the owner write permission on `rel` and below it (clears read-only on Windows),
  // through handles; links are neither changed nor followed.
  virtual void MakeWritable(const std::string& rel) = 0;
  // What the root is; and the root itself removed, when empty and when `named` still
  // leads to it (see safetree::Tree::RemoveRoot). The writer can do nothing afterwards.
  virtual safetree::FileId RootId() = 0;
  virtual bool RemoveRoot(const std::string& named, std::string* why) = 0;
  // Whether programs staged below the root may run there (see safetree::Tree).
  virtual bool ProgramsMayRun() { return true; }

  // Whether copied bytes are the expected ones; else false with *mismatch saying how they
  // differ ("12 bytes, where the manifest lists 11").
  static bool Matches(const Expected& expected, uint64_t size,
                      const std::array<uint8_t, 32>& sha256, std::string* mismatch);

  // The copy itself, the same on every platform: what `read` gives (the source's bytes
  // in order, *done 0 at the end; false on a read error) is written to `out`, hashed on
  // the way when `expected`, and `out` is named (with the time `mtime`) only when every
  // byte was read and written and, with `expected`, when they are those bytes.
  using ReadSome = std::function<bool(uint8_t* buffer, size_t size, size_t* done)>;
  static bool CopyInto(const ReadSome& read, safetree::TreeFile* out, int64_t mtime,
                       const Expected* expected, std::string* mismatch);
  // The same for a copy the system made into `out` (a clone where the file system shares
  // blocks): with `expected`, the bytes `out` now holds are read back and checked; `out`
  // is named only when they are those.
  static bool CheckAndCommit(safetree::TreeFile* out, int64_t mtime, const Expected* expected,
                             std::string* mismatch);
};

// A started child process.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // Waits until the child has ended. Returns 0, or the platform's error code when the
  // wait itself failed (the wait is then abandoned rather than retried for ever).
  virtual uint32_t WaitForExit() = 0;
  // The exit code: 259 while the child still runs. False (with *error set) when the
  // platform cannot tell.
  virtual bool ExitCode(uint32_t* code, uint32_t* error) = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts a child from a Windows-style command-line text, inheriting handles,
  // environment and working directory (Windows: in a new process group; POSIX: in the
  // launcher's own, to share its terminal). `hidden` starts it without a window. Null with
  // *error set when it cannot be started, also when the command line is longer than the
  // platform takes.
  virtual std::unique_ptr<ChildProcess> Start(const std::string& command_line, bool hidden,
                                              uint32_t* error) = 0;
  // Why a start failed with `error`, as a sentence for the user: the system's own text,
  // and what to do where a policy, a security program or the file system stopped it.
  virtual std::string StartFailureText(uint32_t error) {
    return "system error " + std::to_string(error) + ".";
  }
};

// Held while a launcher probes the registry; other launchers' probes wait for it.
class RegistryLock {
 public:
  virtual ~RegistryLock() = default;
};

// The machine-wide registry under HKEY_LOCAL_MACHINE; keys are written with backslashes
// ("SOFTWARE\\ZORVEX") on every target.
class Registry {
 public:
  virtual ~Registry() = default;
  // Keeps other launchers' write probes off until the lock is released. Null where the
  // registry needs no such lock (a value and a subkey of one name never collide there).
  virtual std::unique_ptr<RegistryLock> LockForProbe() { return nullptr; }
  enum class ReadResult { kOk, kNoKey, kNoValue, kTooLarge };
  // Reads a value as bytes (string values without their terminating NUL).
  virtual ReadResult ReadValue(const std::string& key, const std::string& name,
                               std::string* value) = 0;
  // True when the key exists and may be opened for reading values.
  virtual bool KeyExists(const std::string& key) = 0;
  // Reads a 32-bit value (REG_DWORD).
  virtual ReadResult ReadDword(const std::string& key, const std::string& name,
                               uint32_t* value) = 0;
  // Primitives of the write probe; each returns false at failure.
  virtual bool OpenForWrite(const std::string& key) = 0;
  virtual bool SetStringValue(const std::string& key, const std::string& name,
                              const std::string& value) = 0;
  virtual bool DeleteValue(const std::string& key, const std::string& name) = 0;
  virtual bool CreateKey(const std::string& key, const std::string& class_name) = 0;
  virtual bool DeleteKey(const std::string& key) = 0;
};

class Console {
 public:
  virtual ~Console() = default;
  // Takes the process's standard output as the console output (after catalogue loading).
  virtual void UseStandardOutput() = 0;
  // Creates the launcher's console window with its title and sizes and binds the C
  // runtime's standard streams to it; then the output handle is fetched again.
  virtual void Create(const std::string& title) = 0;
  // Writes a UTF-8 text to the console output; dropped when there is none.
  virtual void Print(const std::string& utf8) = 0;
  // Writes bytes unchanged to the C runtime's standard output / standard error.
  virtual void WriteStdout(const std::string& bytes) = 0;
  virtual void WriteStderr(const std::string& bytes) = 0;
  virtual void FlushStdout() = 0;
  // Shows a blocking error notice with a title and a text.
  virtual void ShowMessageBox(const std::string& title, const std::string& text) = 0;
  // Reads one character from standard input; -1 at end of input.
  virtual int ReadChar() = 0;
  // True when a person can answer on standard input: a terminal, or a console on a desktop
  // someone sees (the one the launcher was started from, or one it made there). A pipe, a
  // file, /dev/null, a console in a service's session or on a hidden desktop is not: a
  // deployment agent holding a pipe open would never end a run that waits there.
  virtual bool PersonCanAnswer() = 0;
  // Drops input typed ahead of a question.
  virtual void DiscardPendingInput() = 0;
  // True when the console output is a terminal or a console a person watches, not a file
  // or a pipe: only there may a line be rewritten in place.
  virtual bool IsInteractive() = 0;
};

struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  std::string service_pack;
};

// Paging space as the probes see it.
struct PagingInfo {
  bool have_list = false;   // a paging-file list text could be read
  std::string list;         // "C:\pagefile.sys 2048 4096" entries, NUL-separated
  uint32_t list_error = 0;  // error code when the list could not be read
  bool vista_or_later = false;
  uint64_t available_mb = 0;
};

class System {
 public:
  virtual ~System() = default;
  // Full path of the running executable; false with *error set on failure.
  virtual bool ModulePath(std::string* path, uint32_t* error) = 0;
  // An environment variable; nullopt when it is not set at all.
  virtual std::optional<std::string> GetEnv(const std::string& name) = 0;
  // The user's language and country as the platform abbreviates them
  // ("ENU"/"USA" on Windows, "de"/"CH" from the locale environment on POSIX).
  virtual void UserLocale(std::string* language, std::string* country) = 0;
  // Local time now.
  virtual std::tm LocalTime() = 0;
  // Milliseconds since some fixed point, wrapping at 2^32.
  virtual uint32_t TickCount() = 0;
  // True when the ANSI code page counts the byte as a letter (IsCharAlphaA).
  virtual bool IsAnsiLetter(unsigned char c) = 0;
  // A value of a section of a profile (INI) file as the platform's profile call reads it;
  // the default when there is none.
  virtual std::string ProfileString(const std::string& section, const std::string& key,
                                    const std::string& default_value, const std::string& file) = 0;
  virtual OsVersion GetOsVersionInfo() = 0;
  virtual int DisplayBitsPerPixel() = 0;
  virtual uint32_t CpuMhz() = 0;
  virtual PagingInfo Paging() = 0;
};

// The platform the launcher runs on: one of each.
struct Platform {
  const PathStyle* style = nullptr;
  FileSystem* files = nullptr;
  Processes* processes = nullptr;
  Registry* registry = nullptr;
  Console* console = nullptr;
  System* system = nullptr;
};

// Reads a whole regular file through the file system. False when it cannot be read; a file
// larger than kMaxReadBytes is refused with a warning on standard error that names it.
bool ReadWholeFile(const std::string& path, std::string* bytes);

// Starts a command-line text without a window, waits for it and gives its exit code, or the
// system's error code when it cannot be started (*started then false, where given) or its
// exit code cannot be read. Nothing is shown or logged.
uint32_t RunAndWait(const std::string& command_line, bool* started = nullptr);

// Reads one line of standard input through Console::ReadChar, without its line feed (and
// the carriage return before it). False when the input has ended before any character.
bool ReadLine(Console& console, std::string* line);

// The platform of the run in progress: the real one, the guard around it, or test doubles.
Platform& Os();

// The real platform of the target this program was built for.
Platform NativePlatform();

}  // namespace zorvex::platform
