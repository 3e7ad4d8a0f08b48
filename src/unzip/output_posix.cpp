#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/openat2.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "unzip/output.h"

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

mode_t CurrentUmask() {
  static const mode_t mask = [] {
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return mask;
}

std::string Parent(const std::string& rel) {
  size_t cut = rel.find_last_of('/');
  return cut == std::string::npos ? "" : rel.substr(0, cut);
}

std::string Leaf(const std::string& rel) {
  size_t cut = rel.find_last_of('/');
  return cut == std::string::npos ? rel : rel.substr(cut + 1);
}

// A name in the same directory that no other writer picks: pid and a process-wide counter.
// Its length does not depend on the final name's, which may be as long as a name can be.
std::string TemporaryName() {
  static const std::string pid = std::to_string(::getpid());
  static std::atomic<unsigned long> counter{0};
  return ".unzip-" + pid + "-" + std::to_string(counter++) + ".tmp";
}

// An open directory below the destination, shared by the files being written in it.
class DirFd {
 public:
  explicit DirFd(int fd) : fd_(fd) {}
  ~DirFd() { ::close(fd_); }
  DirFd(const DirFd&) = delete;
  DirFd& operator=(const DirFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens the directory `rel` (components joined with "/", none "." or "..") below the open
// directory `root`, following no link on the way, so that nothing planted below the root
// leads a write elsewhere. -1 with errno on failure (ELOOP / ENOTDIR for a link).
int OpenBeneath(int root, const std::string& rel) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  if (rel.empty()) return ::fcntl(root, F_DUPFD_CLOEXEC, 0);
#ifdef SYS_openat2
  static std::atomic<bool> have_openat2{true};
  if (have_openat2) {
    open_how how{};
    how.flags = flags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = ::syscall(SYS_openat2, root, rel.c_str(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
    have_openat2 = false;  // an older kernel, or a sandbox that forbids the call
  }
#endif
  // Part by part, each opened relative to the last without following a link.
  int fd = ::fcntl(root, F_DUPFD_CLOEXEC, 0);
  size_t pos = 0;
  while (fd >= 0 && pos < rel.size()) {
    size_t end = std::min(rel.find('/', pos), rel.size());
    int next = ::openat(fd, rel.substr(pos, end - pos).c_str(), flags);
    int saved = errno;
    ::close(fd);
    errno = saved;
    fd = next;
    pos = end + 1;
  }
  return fd;
}

// Moves `from` to `to` in the directory: replacing what is there, or only when nothing is.
bool Place(int dir, const std::string& from, const std::string& to, bool replace, bool* exists) {
  *exists = false;
  if (replace) return ::renameat(dir, from.c_str(), dir, to.c_str()) == 0;
  if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0) {
    ::unlinkat(dir, from.c_str(), 0);
    return true;
  }
  if (errno == EEXIST) *exists = true;
  return false;
}

// Links the open file `fd` (made without a name) into the directory as `name`.
bool LinkOpenFile(int fd, int dir, const std::string& name) {
  if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) return true;
  if (errno != ENOENT && errno != EPERM) return false;
  // Without the privilege that AT_EMPTY_PATH asks for, the file is named through /proc.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Gives a file written without a name its name: only when none is there, or replacing
// what is there in one step (a second name, then renamed over).
bool PublishOpenFile(int fd, int dir, const std::string& leaf, bool replace, bool* exists) {
  *exists = false;
  if (LinkOpenFile(fd, dir, leaf)) return true;
  if (errno != EEXIST) return false;
  if (!replace) {
    *exists = true;
    return false;
  }
  const std::string temp = TemporaryName();
  if (!LinkOpenFile(fd, dir, temp)) return false;
  if (::renameat(dir, temp.c_str(), dir, leaf.c_str()) == 0) return true;
  int saved = errno;
  ::unlinkat(dir, temp.c_str(), 0);
  errno = saved;
  return false;
}

// True where files can be written without a name and named when complete: the kernel
// takes O_TMPFILE (file systems that do not are found at the first file) and an open
// file can be linked, by privilege or through /proc.
bool CanPublishOpenFiles() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0 || ::geteuid() == 0;
  return can;
}

// The file is written without a name (or, where the file system cannot, under a
// temporary name beside its own) and named when complete: a damaged entry never leaves a
// file that looks complete, and a complete one needs no rename.
class PosixFile : public OutputFile {
 public:
  PosixFile(std::shared_ptr<DirFd> dir, int fd, std::string temp, std::string leaf,
            bool mode_pending, mode_t mode)
      : dir_(std::move(dir)),
        fd_(fd),
        temp_(std::move(temp)),
        leaf_(std::move(leaf)),
        mode_pending_(mode_pending),
        mode_(mode) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temp_.empty()) ::unlinkat(dir_->get(), temp_.c_str(), 0);
  }
  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        disk_full_ = errno == ENOSPC || errno == EDQUOT;
        return false;
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  bool Commit(int64_t mtime, bool replace, bool* exists, std::string* error) override {
    timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    bool ok = (!mode_pending_ || ::fchmod(fd_, mode_) == 0) && ::futimens(fd_, times) == 0;
    *exists = false;
    int fd = fd_;
    fd_ = -1;
    if (temp_.empty()) {  // unnamed: named before it is closed, or it is gone
      ok = ok && PublishOpenFile(fd, dir_->get(), leaf_, replace, exists);
      int saved = errno;
      if (::close(fd) != 0 && ok) {
        disk_full_ = errno == ENOSPC || errno == EDQUOT;
        saved = errno;
        ::unlinkat(dir_->get(), leaf_.c_str(), 0);
        ok = false;
      }
      errno = saved;
    } else {
      if (::close(fd) != 0) {
        disk_full_ = errno == ENOSPC || errno == EDQUOT;
        ok = false;
      }
      if (ok) ok = Place(dir_->get(), temp_, leaf_, replace, exists);
    }
    if (ok) {
      committed_ = true;
      return true;
    }
    if (!*exists) *error = std::strerror(errno);
    return false;
  }
  bool DiskFull() const override { return disk_full_; }

 private:
  std::shared_ptr<DirFd> dir_;
  int fd_;
  std::string temp_;
  std::string leaf_;
  bool mode_pending_;
  mode_t mode_;
  bool committed_ = false;
  bool disk_full_ = false;
};

class PosixOutput : public Output {
 public:
  PosixOutput(std::string dir, int root) : dir_(std::move(dir)), root_(root) {}
  ~PosixOutput() override { ::close(root_); }

  bool MakeOneDirectory(const std::string& rel, std::string* error) override {
    std::shared_ptr<DirFd> parent = OpenDir(Parent(rel), error);
    if (!parent) return false;
    const std::string leaf = Leaf(rel);
    if (::mkdirat(parent->get(), leaf.c_str(), 0777) == 0) return true;
    if (errno != EEXIST) {
      *error = "cannot create " + Full(rel) + ": " + std::strerror(errno);
      return false;
    }
    struct stat st;
    if (::fstatat(parent->get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode)) {
      *error = Full(rel) + " is not a directory (a file or a link stands there)";
      return false;
    }
    return true;
  }

  // An entry made on Unix gets its own mode (without set-id and sticky bits), whatever the
  // umask; any other gets what a new file gets. Created with its mode where the umask lets
  // it, so that most files need no change of mode.
  std::unique_ptr<OutputFile> CreateFile(const std::string& rel, std::optional<uint32_t> mode,
                                         std::string* error) override {
    std::shared_ptr<DirFd> parent = OpenDir(Parent(rel), error);
    if (!parent) return nullptr;
    mode_t wanted = mode ? static_cast<mode_t>(*mode & 0777) : 0666;
    std::string temp;
    int fd = -1;
    if (CanPublishOpenFiles() && tmpfile_works_) {
      fd = ::openat(parent->get(), ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, wanted);
      if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        tmpfile_works_ = false;
      }
    }
    if (fd < 0) {
      temp = TemporaryName();
      fd = ::openat(parent->get(), temp.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, wanted);
    }
    if (fd < 0) {
      *error = "cannot create " + Full(rel) + ": " + std::strerror(errno);
      return nullptr;
    }
    bool pending = mode && (wanted & CurrentUmask()) != 0;
    return std::make_unique<PosixFile>(parent, fd, temp, Leaf(rel), pending, wanted);
  }

  bool MakeLink(const std::string& rel, const std::string& target, bool replace, bool* exists,
                std::string* error) override {
    std::shared_ptr<DirFd> parent = OpenDir(Parent(rel), error);
    if (!parent) return false;
    std::string temp = TemporaryName();
    if (::symlinkat(target.c_str(), parent->get(), temp.c_str()) != 0) {
      *error = "cannot create the link " + Full(rel) + ": " + std::strerror(errno);
      return false;
    }
    if (Place(parent->get(), temp, Leaf(rel), replace, exists)) return true;
    if (!*exists) *error = "cannot create the link " + Full(rel) + ": " + std::strerror(errno);
    ::unlinkat(parent->get(), temp.c_str(), 0);
    return false;
  }

  void SetDirectoryAttributes(const std::string& rel, std::optional<uint32_t> mode,
                              int64_t mtime) override {
    std::string error;
    std::shared_ptr<DirFd> dir = OpenDir(rel, &error);
    if (!dir) return;
    if (mode) ::fchmod(dir->get(), static_cast<mode_t>(*mode & 0777));
    timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    ::futimens(dir->get(), times);
  }

  bool FreeBytes(uint64_t* bytes) override {
    struct statvfs st;
    if (::fstatvfs(root_, &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
  }

  std::string DisplayPath(const std::string& rel) const override { return Full(rel); }

 private:
  std::string Full(const std::string& rel) const { return dir_ + "/" + rel; }

  // The directory below the destination, opened once and kept while few are open: the
  // files of one directory share it. Null with *error when it cannot be opened without
  // following a link.
  std::shared_ptr<DirFd> OpenDir(const std::string& rel, std::string* error) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = open_.find(rel);
      if (it != open_.end()) return it->second;
    }
    int fd = OpenBeneath(root_, rel);
    if (fd < 0) {
      *error = errno == ELOOP || errno == ENOTDIR || errno == EXDEV
                   ? Full(rel) + " is not a directory (a file or a link stands there)"
                   : "cannot open " + Full(rel) + ": " + std::strerror(errno);
      return nullptr;
    }
    auto dir = std::make_shared<DirFd>(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.size() < kMaxOpenDirectories) open_.emplace(rel, dir);
    return dir;
  }

  static constexpr size_t kMaxOpenDirectories = 256;
  std::atomic<bool> tmpfile_works_{true};
  std::string dir_;
  int root_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<DirFd>> open_;
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

std::unique_ptr<Output> OpenOutput(const std::string& dir, std::string* error) {
  std::string path = dir.empty() ? "." : dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  // Make the directory and its parents, as the user named it.
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != '/') continue;
    std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = "cannot create " + prefix + ": " + std::strerror(errno);
      return nullptr;
    }
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = path + " is not a directory";
    return nullptr;
  }
  int root = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixOutput>(path, root);
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
