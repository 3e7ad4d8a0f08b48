// What the unzip needs of the operating system beyond the tree it writes: the archive
// mapped into memory, wildcard archive names and the console. One implementation per
// target.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "safetree/tree.h"

namespace zorvex::unzip {

// An archive mapped into memory, read-only.
class MappedArchive {
 public:
  virtual ~MappedArchive() = default;
  virtual const uint8_t* data() const = 0;
  virtual size_t size() const = 0;
  // False when the bytes may have changed since the archive was opened (see
  // MapUnchangeableArchive); memory of the program's own never changes.
  virtual bool Unchanged() const { return true; }
  // The open file whose bytes data() shows, for copies the system makes from it;
  // kNoSystemFile where the bytes are the program's own and the file may have changed
  // since they were read.
  virtual safetree::SystemFile Descriptor() const { return safetree::kNoSystemFile; }
};

// Null with *error set when the file cannot be opened or is no regular file.
std::unique_ptr<MappedArchive> MapArchive(const std::string& path, std::string* error);

// The archive read whole into the program's own memory: what is then unpacked is exactly
// what was read, whatever happens to the file meanwhile (a mapping would show later
// changes). Null with *error as for MapArchive.
std::unique_ptr<MappedArchive> ReadArchive(const std::string& path, std::string* error);

// The archive's bytes from `from` to its end (its central directory and end records), read
// into the program's own memory at their place; every byte before them reads as zero, and
// takes no memory. For reading an archive's directory from bytes one has checked. Null
// with *error as for MapArchive, and when the archive is shorter than `from`.
std::unique_ptr<MappedArchive> ReadArchiveTail(const std::string& path, uint64_t from,
                                               std::string* error);

// The archive mapped while the system guarantees that nobody changes it: on a local file
// system, under a read lease, which anyone opening the file for writing or truncating it
// breaks (and so makes Unchanged() false) before they can write. Null where that cannot
// be had (another file system, a file of another user's without the right to lease it,
// a writer already at work, Windows): then ReadArchive.
std::unique_ptr<MappedArchive> MapUnchangeableArchive(const std::string& path);

// Memory of the program's own holding an archive.
class OwnedArchive : public MappedArchive {
 public:
  explicit OwnedArchive(size_t size) : bytes_(new uint8_t[size > 0 ? size : 1]), size_(size) {}
  const uint8_t* data() const override { return bytes_.get(); }
  size_t size() const override { return size_; }
  uint8_t* bytes() { return bytes_.get(); }
  void Shrink(size_t size) { size_ = size; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;  // not zeroed: every byte is read into before use
  size_t size_;
};

// Memory the system gave zeroed and fills only where it is first touched (the tail read of
// an archive), handed back through `release` when the archive goes.
class ZeroedArchive : public MappedArchive {
 public:
  using Release = void (*)(void* memory, size_t size);
  ZeroedArchive(void* memory, size_t size, Release release)
      : memory_(memory), size_(size), release_(release) {}
  ~ZeroedArchive() override { release_(memory_, size_); }
  ZeroedArchive(const ZeroedArchive&) = delete;
  ZeroedArchive& operator=(const ZeroedArchive&) = delete;
  const uint8_t* data() const override { return static_cast<const uint8_t*>(memory_); }
  size_t size() const override { return size_; }

 private:
  void* memory_;
  size_t size_;
  Release release_;
};

// The archives a command-line argument names: itself when it holds no wildcard, else the
// regular files its last component matches ("*", "?", "[...]"), in name order. False with
// *error when the directory's listing fails part way.
bool ExpandArchivePattern(const std::string& pattern, std::vector<std::string>* matches,
                          std::string* error);

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
