#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
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

// A name beside `final` that no other writer picks: pid and a process-wide counter.
std::string TemporaryBeside(const std::string& final) {
  static const std::string pid = std::to_string(::getpid());
  static std::atomic<unsigned long> counter{0};
  std::string dir = Parent(final);
  return (dir.empty() ? "" : dir + "/") + "." + Leaf(final) + ".unzip-" + pid + "-" +
         std::to_string(counter++);
}

// Moves `from` to `to`: replacing what is there, or only when nothing is.
bool Place(const std::string& from, const std::string& to, bool replace, bool* exists) {
  *exists = false;
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) *exists = true;
  return false;
}

// The file is written under a temporary name beside its own and renamed when complete.
class PosixFile : public OutputFile {
 public:
  PosixFile(int fd, std::string temp, std::string final, bool mode_pending, mode_t mode)
      : fd_(fd),
        temp_(std::move(temp)),
        final_(std::move(final)),
        mode_pending_(mode_pending),
        mode_(mode) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(temp_.c_str());
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
    if (::close(fd) != 0) {
      disk_full_ = errno == ENOSPC || errno == EDQUOT;
      ok = false;
    }
    if (ok) ok = Place(temp_, final_, replace, exists);
    if (ok) {
      committed_ = true;
      return true;
    }
    if (!*exists) *error = std::strerror(errno);
    return false;
  }
  bool DiskFull() const override { return disk_full_; }

 private:
  int fd_;
  std::string temp_;
  std::string final_;
  bool mode_pending_;
  mode_t mode_;
  bool committed_ = false;
  bool disk_full_ = false;
};

class PosixOutput : public Output {
 public:
  explicit PosixOutput(std::string dir) : dir_(std::move(dir)) {}

  bool MakeOneDirectory(const std::string& rel, std::string* error) override {
    std::string path = Full(rel);
    struct stat st;
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    if (errno != EEXIST) {
      *error = "cannot create " + path + ": " + std::strerror(errno);
      return false;
    }
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *error = path + " is not a directory (a file or a link stands there)";
      return false;
    }
    return true;
  }

  // An entry made on Unix gets its own mode (without set-id and sticky bits), whatever the
  // umask; any other gets what a new file gets. Created with its mode where the umask lets
  // it, so that most files need no change of mode.
  std::unique_ptr<OutputFile> CreateFile(const std::string& rel, std::optional<uint32_t> mode,
                                         std::string* error) override {
    std::string final = Full(rel);
    mode_t wanted = mode ? static_cast<mode_t>(*mode & 0777) : 0666;
    std::string temp = TemporaryBeside(final);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, wanted);
    if (fd < 0) {
      *error = "cannot create " + final + ": " + std::strerror(errno);
      return nullptr;
    }
    bool pending = mode && (wanted & CurrentUmask()) != 0;
    return std::make_unique<PosixFile>(fd, temp, final, pending, wanted);
  }

  bool MakeLink(const std::string& rel, const std::string& target, bool replace, bool* exists,
                std::string* error) override {
    std::string final = Full(rel);
    std::string temp = TemporaryBeside(final);
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
      *error = "cannot create the link " + final + ": " + std::strerror(errno);
      return false;
    }
    if (Place(temp, final, replace, exists)) return true;
    if (!*exists) *error = "cannot create the link " + final + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }

  void SetDirectoryAttributes(const std::string& rel, std::optional<uint32_t> mode,
                              int64_t mtime) override {
    std::string path = Full(rel);
    if (mode) ::fchmodat(AT_FDCWD, path.c_str(), static_cast<mode_t>(*mode & 0777), 0);
    timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }

  std::string DisplayPath(const std::string& rel) const override { return Full(rel); }

 private:
  std::string Full(const std::string& rel) const { return dir_ + "/" + rel; }
  std::string dir_;
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
  return std::make_unique<PosixOutput>(path);
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
