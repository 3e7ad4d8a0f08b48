#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/openat2.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
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

#include "safetree/tree.h"

namespace zorvex::safetree {

namespace {

// The modes of what the tree makes: its owner's alone.
constexpr mode_t kDirectoryMode = 0700;
mode_t FileMode(bool executable) { return executable ? 0700 : 0600; }

// Gives the open entry its mode: any access list taken away (one inherited from a
// directory's default list names others, and a directory's own default list would hand them
// what is made below it later), then the mode set, whatever the umask left. False when
// others could still write it: a file system that keeps neither lists nor modes (FAT) is
// taken as it is when nobody else may write there anyway.
bool MakeOwnersAlone(int fd, mode_t mode, bool directory) {
  bool ok = true;
  for (const char* list : {"system.posix_acl_access", "system.posix_acl_default"}) {
    if (!directory && list[18] == 'd') continue;
    if (::fremovexattr(fd, list) != 0 && errno != ENODATA && errno != ENOTSUP &&
        errno != EOPNOTSUPP) {
      ok = false;
    }
  }
  struct stat st;
  if (::fchmod(fd, mode) != 0 && (::fstat(fd, &st) != 0 || (st.st_mode & 022) != 0)) ok = false;
  return ok;
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
class PosixFile : public TreeFile {
 public:
  PosixFile(std::shared_ptr<DirFd> dir, int fd, std::string temp, std::string leaf, mode_t mode)
      : dir_(std::move(dir)),
        fd_(fd),
        temp_(std::move(temp)),
        leaf_(std::move(leaf)),
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
        write_error_ = n < 0 ? errno : ENOSPC;  // a write of nothing: no room left
        disk_full_ = write_error_ == ENOSPC || write_error_ == EDQUOT;
        return false;
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  CopyResult CopyFrom(SystemFile file, uint64_t offset, uint64_t size,
                      uint64_t* copied_bytes) override {
    const int fd = static_cast<int>(file);
    off_t from = static_cast<off_t>(offset);
    bool copied = false;
    *copied_bytes = 0;
    for (uint64_t left = size; left > 0;) {
      // The system copies at most about 2 GiB a call: larger entries take several.
      ssize_t n = ::copy_file_range(fd, &from, fd_, nullptr,
                                    static_cast<size_t>(std::min<uint64_t>(left, 1u << 30)), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && !copied &&
          (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
           errno == EBADF)) {
        return CopyResult::kUnsupported;  // another file system, or an older system
      }
      if (n < 0) {
        write_error_ = errno;
        disk_full_ = write_error_ == ENOSPC || write_error_ == EDQUOT;
        return CopyResult::kFailed;
      }
      if (n == 0) return CopyResult::kShort;
      copied = true;
      left -= static_cast<uint64_t>(n);
    }
    *copied_bytes = size;  // all of them: the system copies what it cannot share
    return CopyResult::kDone;
  }
  bool ReadBack(uint64_t offset, uint8_t* data, size_t size, size_t* got) override {
    ssize_t n;
    while ((n = ::pread(fd_, data, size, static_cast<off_t>(offset))) < 0 && errno == EINTR) {
    }
    *got = n > 0 ? static_cast<size_t>(n) : 0;
    return n >= 0;
  }
  bool Commit(int64_t mtime, bool replace, bool* exists, std::string* error) override {
    timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    bool ok = MakeOwnersAlone(fd_, mode_, false) && ::futimens(fd_, times) == 0;
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
  std::string WriteError() const override { return std::strerror(write_error_); }

 private:
  std::shared_ptr<DirFd> dir_;
  int fd_;
  std::string temp_;
  std::string leaf_;
  mode_t mode_;
  bool committed_ = false;
  bool disk_full_ = false;
  int write_error_ = 0;
};

TreeEntry::Kind KindOf(mode_t mode) {
  return S_ISDIR(mode)   ? TreeEntry::Kind::kDirectory
         : S_ISLNK(mode) ? TreeEntry::Kind::kLink
         : S_ISREG(mode) ? TreeEntry::Kind::kFile
                         : TreeEntry::Kind::kSpecial;
}

FileId IdOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Adds permission bits to the entry `name` of `dir` through a handle of the entry itself,
// so that a link (or an entry swapped for one) is never followed: the handle is a path
// handle, which needs no permission on the entry, and /proc names exactly its inode.
// A link is left as it is. False when the mode could not be changed.
bool AddModeBits(int dir, const std::string& name, mode_t bits) {
  int fd = ::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && !S_ISLNK(st.st_mode) && (st.st_mode & bits) != bits) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    ok = ::chmod(self.c_str(), (st.st_mode & 07777) | bits) == 0;
  }
  ::close(fd);
  return ok;
}

// Opens the directory `name` of `dir` to work inside it, following no link; one of the
// tree's that keeps its owner out (0500, 0000) is opened to its owner first. The handle
// opened is checked to be the directory that was changed. -1 when it cannot be opened.
int OpenDirectoryToChange(int dir, const std::string& name) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(dir, name.c_str(), flags);
  struct stat before, after;
  if (fd < 0 && errno == EACCES &&
      ::fstatat(dir, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) == 0 &&
      AddModeBits(dir, name, S_IRWXU)) {
    fd = ::openat(dir, name.c_str(), flags);
    if (fd >= 0 && (::fstat(fd, &after) != 0 || IdOf(after) != IdOf(before))) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd >= 0 && ::fstat(fd, &after) == 0 && (after.st_mode & S_IRWXU) != S_IRWXU) {
    ::fchmod(fd, (after.st_mode & 07777) | S_IRWXU);  // its entries are to be changed
  }
  return fd;
}

// The names in the open directory, "." and ".." left out, read through a copy of its handle.
// *complete is false when they could not all be read.
std::vector<std::string> NamesIn(int dir, bool* complete) {
  std::vector<std::string> names;
  *complete = true;
  int copy = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
  DIR* d = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (d == nullptr) {
    if (copy >= 0) ::close(copy);
    *complete = false;
    return names;
  }
  // The copy shares the handle's position: a directory listed before (a held root, a kept
  // handle) is read from its start again.
  ::rewinddir(d);
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(d);
    if (e == nullptr) {
      if (errno != 0) *complete = false;
      break;
    }
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names.push_back(e->d_name);
    }
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// Removes the entry `name` of `dir`, and everything below it through the handles of its
// directories. A directory swapped for a link meanwhile cannot be opened as a directory,
// and the link alone goes. What stays is added to *left, named by `shown`.
void RemoveEntry(int dir, const std::string& name, const std::string& shown,
                 std::vector<std::string>* left) {
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) left->push_back(shown);
    return;
  }
  if (!S_ISDIR(st.st_mode)) {
    // Unlinking needs no permission on the file itself, read-only or not.
    if (::unlinkat(dir, name.c_str(), 0) != 0 && errno != ENOENT) left->push_back(shown);
    return;
  }
  RemovalPause(shown);
  int fd = OpenDirectoryToChange(dir, name);
  if (fd >= 0) {
    bool complete = true;
    for (const std::string& child : NamesIn(fd, &complete)) {
      RemoveEntry(fd, child, shown + "/" + child, left);
    }
    ::close(fd);
  }
  if (::unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return;
  if (errno == ENOTDIR && ::unlinkat(dir, name.c_str(), 0) == 0) return;  // now a link
  left->push_back(shown);
}

// Gives the owner write permission on the entry `name` of `dir` and on everything below
// it (a directory also read and search permission), through handles, following no link.
void MakeEntryWritable(int dir, const std::string& name) {
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISREG(st.st_mode)) {
    AddModeBits(dir, name, S_IWUSR);
  } else if (S_ISDIR(st.st_mode)) {
    int fd = OpenDirectoryToChange(dir, name);
    if (fd < 0) return;
    bool complete = true;  // what was not listed stays as it was
    for (const std::string& child : NamesIn(fd, &complete)) MakeEntryWritable(fd, child);
    ::close(fd);
  }
}

class PosixTree : public Tree {
 public:
  PosixTree(std::string dir, int root) : dir_(std::move(dir)), root_(root) {}
  ~PosixTree() override { ::close(root_); }

  bool MakeOneDirectory(const std::string& rel, std::string* error) override {
    std::shared_ptr<DirFd> parent = OpenDir(Parent(rel), error);
    if (!parent) return false;
    const std::string leaf = Leaf(rel);
    if (::mkdirat(parent->get(), leaf.c_str(), kDirectoryMode) == 0) {
      // Made just now in a directory of the tree's own making or choosing: opened as itself
      // (never a link put there meanwhile) to be made its owner's alone.
      int fd =
          ::openat(parent->get(), leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const bool own = fd >= 0 && MakeOwnersAlone(fd, kDirectoryMode, true);
      if (fd >= 0) ::close(fd);
      if (!own) *error = "cannot make " + Full(rel) + " its owner's alone: " + std::strerror(errno);
      return own;
    }
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

  std::unique_ptr<TreeFile> NewFile(const std::string& rel, bool executable,
                                    std::string* error) override {
    std::shared_ptr<DirFd> parent = OpenDir(Parent(rel), error);
    if (!parent) return nullptr;
    const mode_t wanted = FileMode(executable);
    std::string temp;
    int fd = -1;
    if (CanPublishOpenFiles() && tmpfile_works_) {
      fd = ::openat(parent->get(), ".", O_RDWR | O_TMPFILE | O_CLOEXEC, wanted);
      if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        tmpfile_works_ = false;
      }
    }
    if (fd < 0) {
      temp = TemporaryName();
      fd = ::openat(parent->get(), temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    wanted);
    }
    if (fd < 0) {
      *error = "cannot create " + Full(rel) + ": " + std::strerror(errno);
      return nullptr;
    }
    return std::make_unique<PosixFile>(parent, fd, temp, Leaf(rel), wanted);
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

  void SetDirectoryTime(const std::string& rel, int64_t mtime) override {
    std::string error;
    std::shared_ptr<DirFd> dir = OpenDir(rel, &error);
    if (!dir) return;
    timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    ::futimens(dir->get(), times);
  }

  bool FreeBytes(uint64_t* bytes) override {
    struct statvfs st;
    if (::fstatvfs(root_, &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
  }

  bool ProgramsMayRun() override {
    struct statvfs st;
    return ::fstatvfs(root_, &st) != 0 || (st.f_flag & ST_NOEXEC) == 0;
  }

  std::string DisplayPath(const std::string& rel) const override { return Full(rel); }

  bool List(const std::string& rel, std::vector<TreeEntry>* entries) override {
    entries->clear();
    std::string error;
    std::shared_ptr<DirFd> dir = OpenDir(rel, &error);
    if (!dir) return false;
    bool complete = true;
    for (const std::string& name : NamesIn(dir->get(), &complete)) {
      struct stat st;
      if (::fstatat(dir->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;  // gone meanwhile
        complete = false;
        break;
      }
      entries->push_back({name, KindOf(st.st_mode), IdOf(st)});
    }
    // A listing with entries missing is no listing: a copy would lose them unseen.
    if (!complete) entries->clear();
    return complete;
  }

  bool Find(const std::string& rel, TreeEntry* found) override {
    std::string error;
    std::shared_ptr<DirFd> dir = OpenDir(Parent(rel), &error);
    struct stat st;
    if (!dir || ::fstatat(dir->get(), Leaf(rel).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return false;
    }
    *found = {Leaf(rel), KindOf(st.st_mode), IdOf(st)};
    return true;
  }

  void Remove(const std::string& rel, std::vector<std::string>* left) override {
    if (rel.empty()) return;
    Forget(rel);
    std::string error;
    std::shared_ptr<DirFd> dir = OpenDir(Parent(rel), &error);
    if (!dir) {
      left->push_back(Full(rel));
      return;
    }
    RemoveEntry(dir->get(), Leaf(rel), Full(rel), left);
  }

  void MakeWritable(const std::string& rel) override {
    std::string error;
    std::shared_ptr<DirFd> dir = OpenDir(Parent(rel), &error);
    if (rel.empty() || !dir) return;
    MakeEntryWritable(dir->get(), Leaf(rel));
  }

  FileId RootId() override {
    struct stat st;
    return ::fstat(root_, &st) == 0 ? IdOf(st) : FileId{};
  }

  // Through a handle of the parent: the name is looked at and removed in one directory,
  // whatever happens to the path above it meanwhile.
  bool RemoveRoot(const std::string& named, std::string* why) override {
    const FileId id = RootId();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_.clear();
    }
    std::string path = named;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t cut = path.find_last_of('/');
    const std::string parent = cut == std::string::npos ? "." : path.substr(0, cut == 0 ? 1 : cut);
    const std::string leaf = path.substr(cut == std::string::npos ? 0 : cut + 1);
    int dir = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    bool same = dir >= 0 && ::fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(st.st_mode) && IdOf(st) == id;
    bool removed = same && ::unlinkat(dir, leaf.c_str(), AT_REMOVEDIR) == 0;
    if (!removed) {
      *why = same ? std::strerror(errno)
                  : "it was moved or replaced while the installer ran, and what stands at its "
                    "name now is not the installer's";
    }
    if (dir >= 0) ::close(dir);
    return removed;
  }

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

  // The directory handles kept for `rel` and below it, which is going.
  void Forget(const std::string& rel) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(open_, [&](const auto& kept) {
      return kept.first == rel || kept.first.rfind(rel + "/", 0) == 0;
    });
  }

  static constexpr size_t kMaxOpenDirectories = 256;
  std::atomic<bool> tmpfile_works_{true};
  std::string dir_;
  int root_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<DirFd>> open_;
};

}  // namespace

std::unique_ptr<Tree> OpenTree(const std::string& dir, bool make, std::string* error) {
  std::string path = dir.empty() ? "." : dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  // Make the directory and its parents, as the user named it; each one made, its owner's
  // alone.
  for (size_t pos = 1; make && pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != '/') continue;
    std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), kDirectoryMode) != 0) {
      if (errno == EEXIST) continue;
      *error = "cannot create " + prefix + ": " + std::strerror(errno);
      return nullptr;
    }
    int fd = ::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool own = fd >= 0 && MakeOwnersAlone(fd, kDirectoryMode, true);
    if (fd >= 0) ::close(fd);
    if (!own) {
      *error = "cannot make " + prefix + " its owner's alone: " + std::strerror(errno);
      return nullptr;
    }
  }
  // The root is taken as named (a link the caller names is the caller's choice); below it
  // nothing is followed.
  int root = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    *error = errno == ENOTDIR ? path + " is not a directory"
                              : "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixTree>(path, root);
}

std::unique_ptr<Tree> HoldTree(const std::string& dir, std::string* error) {
  std::string path = dir.empty() ? "." : dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  int root = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (root < 0) {
    *error = errno == ENOTDIR || errno == ELOOP
                 ? path + " is not a directory, or is a link"
                 : "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<PosixTree>(path, root);
}

std::string NameKey(const std::string& utf8) { return utf8; }

bool SetMadeMode(int fd, uint32_t mode, bool directory) {
  return MakeOwnersAlone(fd, static_cast<mode_t>(mode), directory);
}

}  // namespace zorvex::safetree
