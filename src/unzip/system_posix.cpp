#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "unzip/system.h"

namespace zorvex::unzip {

namespace {

class PosixMapped : public MappedArchive {
 public:
  PosixMapped(void* map, size_t size) : map_(map), size_(size) {}
  ~PosixMapped() override {
    if (map_ != nullptr) ::munmap(map_, size_);
  }
  const uint8_t* data() const override {
    static const uint8_t kEmpty = 0;
    return map_ != nullptr ? static_cast<const uint8_t*>(map_) : &kEmpty;
  }
  size_t size() const override { return size_; }

 private:
  void* map_;
  size_t size_;
};

// An archive read into anonymous memory of the program's own.
class PosixOwned : public MappedArchive {
 public:
  PosixOwned(uint8_t* mapping, size_t mapped, uint8_t* bytes, size_t size)
      : mapping_(mapping), mapped_(mapped), bytes_(bytes), size_(size) {}
  ~PosixOwned() override { ::munmap(mapping_, mapped_); }
  const uint8_t* data() const override { return bytes_; }
  size_t size() const override { return size_; }
  uint8_t* bytes() { return bytes_; }
  void Shrink(size_t size) { size_ = size; }

 private:
  uint8_t* mapping_;
  size_t mapped_;
  uint8_t* bytes_;
  size_t size_;
};

// The part of a path that holds a wildcard character.
bool HasWildcard(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

}  // namespace

std::unique_ptr<MappedArchive> MapArchive(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = "not a regular file";
    return nullptr;
  }
  size_t size = static_cast<size_t>(st.st_size);
  void* map = nullptr;
  if (size > 0) {
    map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
      ::close(fd);
      *error = std::strerror(errno);
      return nullptr;
    }
  }
  ::close(fd);
  return std::make_unique<PosixMapped>(map, size);
}

namespace {

// A mapping under a read lease on its descriptor.
class LeasedMapped : public MappedArchive {
 public:
  LeasedMapped(int fd, void* map, size_t size) : fd_(fd), map_(map), size_(size) {}
  ~LeasedMapped() override {
    if (map_ != nullptr) ::munmap(map_, size_);
    ::fcntl(fd_, F_SETLEASE, F_UNLCK);
    ::close(fd_);
  }
  const uint8_t* data() const override {
    static const uint8_t kEmpty = 0;
    return map_ != nullptr ? static_cast<const uint8_t*>(map_) : &kEmpty;
  }
  size_t size() const override { return size_; }
  // A lease being broken reads as F_UNLCK: someone has asked to write.
  bool Unchanged() const override { return ::fcntl(fd_, F_GETLEASE) == F_RDLCK; }

 private:
  int fd_;
  void* map_;
  size_t size_;
};

// File systems whose every writer goes through this kernel, so that a lease sees them:
// not network or user-space file systems, whose files may change elsewhere.
bool IsLocalFileSystem(int fd) {
  struct statfs fs;
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2, ext3 and ext4 alike
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case ISOFS_SUPER_MAGIC:
    case SQUASHFS_MAGIC:
    case MSDOS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::unique_ptr<MappedArchive> MapUnchangeableArchive(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  // A broken lease is told by its state, not by the signal, whose default ends the process.
  ::signal(SIGIO, SIG_IGN);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !IsLocalFileSystem(fd) ||
      ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  size_t size = static_cast<size_t>(st.st_size);
  void* map = nullptr;
  if (size > 0) {
    map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
      ::fcntl(fd, F_SETLEASE, F_UNLCK);
      ::close(fd);
      return nullptr;
    }
  }
  return std::make_unique<LeasedMapped>(fd, map, size);
}

std::unique_ptr<MappedArchive> ReadArchive(const std::string& path, manifest::Sha256* hash,
                                           std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = "not a regular file";
    return nullptr;
  }
  // Anonymous memory in large pages where the system gives them (aligned to them): a
  // fraction of the page faults that filling small pages costs.
  constexpr size_t kLarge = 2u << 20;
  const size_t size = static_cast<size_t>(st.st_size);
  const size_t reserved = size + kLarge;
  void* memory =
      ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) {
    *error = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  uint8_t* aligned = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(memory) + kLarge - 1) &
                                                ~static_cast<uintptr_t>(kLarge - 1));
#ifdef MADV_HUGEPAGE
  ::madvise(aligned, size, MADV_HUGEPAGE);
#endif
  auto archive =
      std::make_unique<PosixOwned>(static_cast<uint8_t*>(memory), reserved, aligned, size);
  // In pieces, each hashed while it is still in the processor's cache. A file that grows
  // meanwhile is read as long as it was; one that shrinks is cut short, and its hash says so.
  constexpr size_t kPiece = 1 << 20;
  size_t done = 0;
  while (done < archive->size()) {
    ssize_t n = ::read(fd, archive->bytes() + done, std::min(kPiece, archive->size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    if (n == 0) break;
    if (hash != nullptr) hash->Update(archive->bytes() + done, static_cast<size_t>(n));
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  archive->Shrink(done);
  return archive;
}

std::vector<std::string> ExpandArchivePattern(const std::string& pattern) {
  size_t cut = pattern.find_last_of('/');
  std::string dir = cut == std::string::npos ? "." : pattern.substr(0, cut == 0 ? 1 : cut);
  std::string leaf = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (!HasWildcard(leaf)) return {pattern};
  std::vector<std::string> matches;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return matches;
  while (struct dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.' && leaf[0] != '.') continue;
    if (::fnmatch(leaf.c_str(), e->d_name, 0) != 0) continue;
    std::string path =
        cut == std::string::npos ? e->d_name : pattern.substr(0, cut + 1) + e->d_name;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) matches.push_back(path);
  }
  ::closedir(d);
  std::sort(matches.begin(), matches.end());
  return matches;
}

void PrintOut(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void PrintErr(const std::string& text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
}

std::string FormatLocalTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  ::localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

bool MakesLinks() { return true; }
bool BackslashSeparates() { return false; }

}  // namespace zorvex::unzip
