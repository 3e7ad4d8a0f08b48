// One safe tree below a root. Everything that writes, changes or removes below a directory
// it was given (the unzip's destination, the staging copy into the scratch directory, the
// run's final removal) works through a Tree: from an open handle of the root downwards,
// nothing is made, written, changed, listed or removed through a link (or other reparse
// point) that stands below the root, even when another process swaps a directory for one
// in the middle of the work. The tree alone decides who may touch what it makes: every
// directory it makes is its owner's alone (0700), every file too (0600, or 0700 when it is
// to run), set through the entry's handle whatever the umask, an archive or a medium's file
// system says, with any access list inherited from the directory taken away (on Windows: a
// protected access list for the user, SYSTEM and the Administrators). One implementation
// per target; no other code of the launcher or the unzip depends on this room's.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace zorvex::safetree {

// An open file of the system's: a descriptor on POSIX, a HANDLE on Windows.
using SystemFile = intptr_t;
constexpr SystemFile kNoSystemFile = -1;

// How a copy made by the system ended.
enum class CopyResult {
  kDone,
  kUnsupported,  // the system copies nothing between these two files; nothing was written
  kFailed,       // as a Write that fails
  kShort,        // the source ended before the bytes asked for
};

// Where bytes go: a file being written, or nowhere (testing).
class Sink {
 public:
  virtual ~Sink() = default;
  // Takes the next bytes. False when they cannot be written (the disk is full, say).
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Takes the next `size` bytes from the open file `file` at `offset`, copied by the
  // system without passing through this program, where it can copy between the two files.
  // kDone with *copied: all of them, or the first bytes the file system shares whole
  // blocks of (Windows); the rest are the caller's to Write.
  virtual CopyResult CopyFrom(SystemFile file, uint64_t offset, uint64_t size, uint64_t* copied) {
    (void)file, (void)offset, (void)size, (void)copied;
    return CopyResult::kUnsupported;
  }
};

// What a file is, whatever name reached it: device and inode on POSIX, volume serial and
// file index on Windows. Two names with one FileId are one file.
struct FileId {
  uint64_t volume = 0;
  uint64_t file = 0;
  auto operator<=>(const FileId&) const = default;
};

// An entry of a directory below the root, as the file system holds it.
struct TreeEntry {
  enum class Kind { kFile, kDirectory, kLink, kSpecial };
  std::string name;  // UTF-8
  Kind kind = Kind::kFile;
  FileId id;
};

// A file being written beside its final name. Destroyed uncommitted, it is removed, so
// that a failed entry never leaves a file that looks complete.
class TreeFile : public Sink {
 public:
  // Sets the modification time, then moves the file to its name, replacing a file there
  // when `replace`. False (with *error) when it cannot; *exists when the name was taken
  // and not to be replaced.
  virtual bool Commit(int64_t mtime, bool replace, bool* exists, std::string* error) = 0;
  virtual bool DiskFull() const = 0;
  // The system's text of why the last Write failed ("Input/output error").
  virtual std::string WriteError() const = 0;
  // Reads back up to `size` bytes of what the file holds at `offset` (*got 0 at its end):
  // a copy the system made (CopyFrom) is checked from the copy itself, which no one else
  // can change, not from its source. False where the file cannot be read back.
  virtual bool ReadBack(uint64_t offset, uint8_t* data, size_t size, size_t* got) {
    (void)offset, (void)data, (void)size, (void)got;
    return false;
  }
};

// The root directory and what goes below it. Paths below it (`rel`) are UTF-8 names
// joined with "/", never absolute and never holding "." or "..": "" is the root itself.
class Tree {
 public:
  virtual ~Tree() = default;
  // Makes the directory and any missing parents, each once per tree. False when it
  // cannot, or when a link or a file stands where one of them goes.
  bool MakeDirectory(const std::string& rel, std::string* error);
  // A new file beside `rel`, whose directory exists, named when committed (as for Commit):
  // its owner's alone, and one its owner may run when `executable` (where the target has
  // such a mode). Null with *error on failure.
  virtual std::unique_ptr<TreeFile> NewFile(const std::string& rel, bool executable,
                                            std::string* error) = 0;
  // Makes `rel` a symbolic link to `target` (where links cannot be made: a file holding
  // the target). False with *error on failure, *exists as for Commit.
  virtual bool MakeLink(const std::string& rel, const std::string& target, bool replace,
                        bool* exists, std::string* error) = 0;
  // Sets the modification time of the directory `rel` (its mode is the tree's own).
  virtual void SetDirectoryTime(const std::string& rel, int64_t mtime) = 0;
  // The bytes free for the user on the root's volume. False when it cannot tell.
  virtual bool FreeBytes(uint64_t* bytes) = 0;
  // Whether programs may run from the root's file system: false where it is mounted so
  // that none may (noexec). Windows has no such mount; there, true.
  virtual bool ProgramsMayRun() { return true; }
  // How messages name the path: the root as given, the target's separator, the path.
  virtual std::string DisplayPath(const std::string& rel) const = 0;

  // The entries of the directory `rel` ("." and ".." left out), read through its own
  // handle. False when it cannot be opened as a directory below the root.
  virtual bool List(const std::string& rel, std::vector<TreeEntry>* entries) = 0;
  // What stands at `rel` as the file system resolves that name: on Windows also another
  // letter case, a short (8.3) name, a trailing dot or blank. False when nothing does;
  // *found then holds the entry with the name the file system keeps for it.
  virtual bool Find(const std::string& rel, TreeEntry* found) = 0;
  // Removes `rel` ("" is refused: the root stays) and everything below it, each directory
  // emptied through its own handle, a link removed as a link: nothing outside is reached,
  // whatever is swapped meanwhile. Read-only files and directories go too (the tree is the
  // caller's own). What cannot be removed is added to *left as DisplayPath names it.
  virtual void Remove(const std::string& rel, std::vector<std::string>* left) = 0;
  // Gives the owner write permission (directories also read and search permission; on
  // Windows: clears the read-only attribute) on `rel` and everything below it, each
  // through its own handle; links are neither changed nor followed.
  virtual void MakeWritable(const std::string& rel) = 0;

  // What the root is, read through its handle.
  virtual FileId RootId() = 0;
  // Removes the root itself, which must be empty, when `named` (its path) still leads to
  // it without a link: a directory moved away meanwhile, and whatever stands at its name
  // now, stay. The handle is closed first (Windows: it keeps the root from being renamed
  // or removed); the tree can do nothing more afterwards. False with *why otherwise.
  virtual bool RemoveRoot(const std::string& named, std::string* why) = 0;

 protected:
  // Makes one directory whose parent exists, its owner's alone; true also when a directory
  // (not a link) stands there already, which is left as it is.
  virtual bool MakeOneDirectory(const std::string& rel, std::string* error) = 0;

 private:
  std::set<std::string> made_;
};

// Opens the root directory as named (a link there is the caller's choice: below the root
// nothing is followed), making it and its parents first when `make`. Null with *error when
// it cannot.
std::unique_ptr<Tree> OpenTree(const std::string& dir, bool make, std::string* error);

// Opens a root the caller holds for a whole run: never through a link or junction at its
// own name, and on Windows so that nobody can rename or remove it while it is held (its
// parents neither, as Windows keeps a directory with open entries below it in place).
// Null with *error when it cannot, also when a link stands at `dir`.
std::unique_ptr<Tree> HoldTree(const std::string& dir, std::string* error);

// The removal's race, made testable: called between looking at a directory that is to be
// removed and opening it, with its path as shown. Tests swap the directory there; the
// programs never set it.
void SetRemovalPause(std::function<void(const std::string& shown)> pause);
void RemovalPause(const std::string& shown);

// Gives an entry the run made outside a tree (a log, a log moved to another file system, a
// directory for logs), open as `fd`, exactly `mode` (permission bits), and takes away any
// access list it inherited (a directory's default list too), as the tree does with what it
// makes. False when others could still write it. POSIX; on Windows such an entry keeps the
// access list its directory gives it, and this is true.
bool SetMadeMode(int fd, uint32_t mode, bool directory);

// How the target's file system tells names apart: on Windows without trailing dots and
// blanks, and in one letter case as the system folds it (any script: "Ä" and "ä", "Я" and
// "я", fullwidth letters); on POSIX the name itself.
std::string NameKey(const std::string& utf8);

// True when Windows reads the name (any case, with or without an extension, blanks before
// it) as a device, whatever the directory: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9,
// LPT0-9 and COM/LPT with a superscript digit.
bool IsWindowsDeviceName(const std::string& utf8);

// Makes one name safe for Windows: characters it cannot hold and a trailing dot or blank
// (which Windows drops, so that "a.txt." names "a.txt") become '_', and a device name gets
// a '_' in front. True when the name changed.
bool MakeWindowsName(std::string* utf8);

}  // namespace zorvex::safetree
