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
  PosixMapped(int fd, void* map, size_t size) : fd_(fd), map_(map), size_(size) {}
  ~PosixMapped() override {
    if (map_ != nullptr) ::munmap(map_, size_);
    ::close(fd_);
  }
  const uint8_t* data() const override {
    static const uint8_t kEmpty = 0;
    return map_ != nullptr ? static_cast<const uint8_t*>(map_) : &kEmpty;
  }
  size_t size() const override { return size_; }
  safetree::SystemFile Descriptor() const override { return fd_; }

 protected:
  int fd() const { return fd_; }

 private:
  int fd_;
  void* map_;
  size_t size_;
};

// The part of a path that holds a wildcard character.
bool HasWildcard(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

}  // namespace

namespace {

// The regular file at `path`, open for reading (not blocking: a pipe would wait for a
// writer for ever). -1 with *error otherwise.
int OpenRegular(const std::string& path, struct stat* st, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  if (::fstat(fd, st) != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(st->st_mode)) {
    ::close(fd);
    *error = "not a regular file";
    return -1;
  }
  return fd;
}

// The file's bytes mapped read-only: null for an empty file, MAP_FAILED on failure.
void* MapWhole(int fd, size_t size) {
  return size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
}

}  // namespace

std::unique_ptr<MappedArchive> MapArchive(const std::string& path, std::string* error) {
  struct stat st;
  int fd = OpenRegular(path, &st, error);
  if (fd < 0) return nullptr;
  size_t size = static_cast<size_t>(st.st_size);
  void* map = MapWhole(fd, size);
  if (map == MAP_FAILED) {
    *error = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  // The descriptor stays open: stored entries are copied from it by the system.
  return std::make_unique<PosixMapped>(fd, map, size);
}

namespace {

// A mapping under a read lease on its descriptor, which is released before the
// descriptor closes.
class LeasedMapped : public PosixMapped {
 public:
  using PosixMapped::PosixMapped;
  ~LeasedMapped() override { ::fcntl(fd(), F_SETLEASE, F_UNLCK); }
  // A lease being broken reads as F_UNLCK: someone has asked to write.
  bool Unchanged() const override { return ::fcntl(fd(), F_GETLEASE) == F_RDLCK; }
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
  struct stat st;
  std::string error;
  int fd = OpenRegular(path, &st, &error);
  if (fd < 0) return nullptr;
  // A broken lease is told by its state, not by the signal, whose default ends the process.
  // What is copied from the leased descriptor is what the mapping shows: nobody writes
  // while the lease holds, and Unchanged() tells when someone asked to.
  ::signal(SIGIO, SIG_IGN);
  if (!IsLocalFileSystem(fd) || ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  size_t size = static_cast<size_t>(st.st_size);
  void* map = MapWhole(fd, size);
  if (map == MAP_FAILED) {
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<LeasedMapped>(fd, map, size);
}

std::unique_ptr<MappedArchive> ReadArchive(const std::string& path, std::string* error) {
  struct stat st;
  int fd = OpenRegular(path, &st, error);
  if (fd < 0) return nullptr;
  auto archive = std::make_unique<OwnedArchive>(static_cast<size_t>(st.st_size));
  // A file that grows meanwhile is read as long as it was; one that shrinks is cut short.
  size_t done = 0;
  while (done < archive->size()) {
    ssize_t n = ::read(fd, archive->bytes() + done, archive->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  archive->Shrink(done);
  return archive;
}

namespace {

// Gives back what ReadArchiveTail took from the system.
void ReleaseTail(void* memory, size_t size) { ::munmap(memory, std::max<size_t>(size, 1)); }

}  // namespace

std::unique_ptr<MappedArchive> ReadArchiveTail(const std::string& path, uint64_t from,
                                               std::string* error) {
  struct stat st;
  int fd = OpenRegular(path, &st, error);
  if (fd < 0) return nullptr;
  const size_t size = static_cast<size_t>(st.st_size);
  void* memory = from <= size ? ::mmap(nullptr, std::max<size_t>(size, 1), PROT_READ | PROT_WRITE,
                                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                              : MAP_FAILED;
  if (memory == MAP_FAILED) {
    *error = from > size ? "shorter than where its directory begins" : std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  auto archive = std::make_unique<ZeroedArchive>(memory, size, ReleaseTail);
  for (size_t done = from; done < size;) {
    ssize_t n =
        ::pread(fd, static_cast<uint8_t*>(memory) + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? std::strerror(errno) : "shorter than it was";
      ::close(fd);
      return nullptr;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return archive;
}

bool ExpandArchivePattern(const std::string& pattern, std::vector<std::string>* found,
                          std::string* error) {
  found->clear();
  size_t cut = pattern.find_last_of('/');
  std::string dir = cut == std::string::npos ? "." : pattern.substr(0, cut == 0 ? 1 : cut);
  std::string leaf = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (!HasWildcard(leaf)) {
    found->push_back(pattern);
    return true;
  }
  std::vector<std::string>& matches = *found;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return true;  // nothing matches
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(d);
    if (e == nullptr) {
      // A listing cut short would unpack some of the archives and say nothing of the rest.
      if (errno != 0) {
        *error = std::strerror(errno);
        ::closedir(d);
        matches.clear();
        return false;
      }
      break;
    }
    if (e->d_name[0] == '.' && leaf[0] != '.') continue;
    if (::fnmatch(leaf.c_str(), e->d_name, 0) != 0) continue;
    std::string path =
        cut == std::string::npos ? e->d_name : pattern.substr(0, cut + 1) + e->d_name;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) matches.push_back(path);
  }
  ::closedir(d);
  std::sort(matches.begin(), matches.end());
  return true;
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
