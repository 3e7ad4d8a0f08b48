// What the unzip needs of the operating system: the archive mapped into memory, the
// destination's directories and files (written beside, then renamed into place), links,
// wildcard archive names and the console. One implementation per target.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "unzip/inflate.h"

namespace zorvex::unzip {

// An archive mapped into memory, read-only.
class MappedArchive {
 public:
  virtual ~MappedArchive() = default;
  virtual const uint8_t* data() const = 0;
  virtual size_t size() const = 0;
};

// Null with *error set when the file cannot be opened or is no regular file.
std::unique_ptr<MappedArchive> MapArchive(const std::string& path, std::string* error);

// A file being written beside its final name. Destroyed uncommitted, it is removed, so
// that a failed entry never leaves a file that looks complete.
class OutputFile : public Sink {
 public:
  // Sets the modification time, then moves the file to its name, replacing a file there
  // when `replace`. False (with *error) when it cannot; *exists when the name was taken
  // and not to be replaced.
  virtual bool Commit(int64_t mtime, bool replace, bool* exists, std::string* error) = 0;
  virtual bool DiskFull() const = 0;
};

// The destination directory and what goes below it. Paths below it are components joined
// with "/" (MakeSafePath's), never absolute and never holding "..". Nothing is made,
// written or renamed through a link or other redirection that stands below the
// destination: a path that meets one fails.
class Output {
 public:
  virtual ~Output() = default;
  // Makes the directory and any missing parents, each once per run. False when it cannot,
  // or when a link or a file stands where one of them goes: nothing is written through a
  // link.
  bool MakeDirectory(const std::string& rel, std::string* error);
  // A new file beside `rel`, whose directory exists, to get `mode` when committed (as for
  // Commit). Null with *error on failure.
  virtual std::unique_ptr<OutputFile> CreateFile(const std::string& rel,
                                                 std::optional<uint32_t> mode,
                                                 std::string* error) = 0;
  // Makes `rel` a symbolic link to `target` (where links cannot be made: a file holding
  // the target). False with *error on failure, *exists as for Commit.
  virtual bool MakeLink(const std::string& rel, const std::string& target, bool replace,
                        bool* exists, std::string* error) = 0;
  virtual void SetDirectoryAttributes(const std::string& rel, std::optional<uint32_t> mode,
                                      int64_t mtime) = 0;
  // The bytes free for the user on the destination's volume. False when it cannot tell.
  virtual bool FreeBytes(uint64_t* bytes) = 0;
  // How messages name the path: the destination as given, a separator, the path.
  virtual std::string DisplayPath(const std::string& rel) const = 0;

 protected:
  // Makes one directory whose parent exists; true also when a directory (not a link)
  // stands there already.
  virtual bool MakeOneDirectory(const std::string& rel, std::string* error) = 0;

 private:
  std::set<std::string> made_;
};

// Opens (making it and its parents when missing) the destination directory. Null with
// *error when it cannot.
std::unique_ptr<Output> OpenOutput(const std::string& dir, std::string* error);

// The archives a command-line argument names: itself when it holds no wildcard, else the
// regular files its last component matches ("*", "?", "[...]"), in name order.
std::vector<std::string> ExpandArchivePattern(const std::string& pattern);

// Writes UTF-8 text to standard output / standard error.
void PrintOut(const std::string& text);
void PrintErr(const std::string& text);

// "YYYY-MM-DD HH:MM" of a time in seconds since 1970, in local time.
std::string FormatLocalTime(int64_t seconds);

// True where links are made as links.
bool MakesLinks();
// True where '\' separates names in archive paths, as it does on Windows.
bool BackslashSeparates();

}  // namespace zorvex::unzip
