#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/posix_platform.h"

namespace zorvex::platform {

namespace {

constexpr char kHive[] = "HKEY_LOCAL_MACHINE";

std::vector<std::string> SplitKey(const std::string& key) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : key) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// Where a value lives when a subkey of its name holds the name's directory entry: in the
// key's subdirectory named "\", a name that no key can have (key names hold no backslash).
constexpr char kOverflowDir[] = "\\";

// The entry of `dir` whose name equals `name` ignoring case: a directory (a key) or a
// regular file (a value). Links are neither: the registry never follows one.
// "" when there is none; *failed (when given) then says whether the directory could not be
// read to its end, which is no answer: a caller must not take it for an absent name.
std::string FindEntry(const std::string& dir, const std::string& name, bool want_dir,
                      bool* failed = nullptr) {
  bool ignored = false;
  if (failed == nullptr) failed = &ignored;
  *failed = false;
  auto wanted = [want_dir](const struct stat& st) {
    return want_dir ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
  };
  // Names are mostly written as they are asked for: try that first, then any case.
  struct stat exact;
  std::string path = dir + "/" + name;
  if (::lstat(path.c_str(), &exact) == 0 && wanted(exact)) return path;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) {
    *failed = errno != ENOENT && errno != ENOTDIR;
    return "";
  }
  std::string found;
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(d);
    if (e == nullptr) {
      *failed = errno != 0;
      break;
    }
    if (::strcasecmp(e->d_name, name.c_str()) != 0) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (wanted(st)) {
      found = dir + "/" + e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

// Writes a value's file, never through a link and only into a file of this user.
bool WriteValueFile(const std::string& file, const std::string& bytes) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::ftruncate(fd, 0) == 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

class FlockLock : public RegistryLock {
 public:
  explicit FlockLock(int fd) : fd_(fd) {}
  ~FlockLock() override { ::close(fd_); }  // closing releases the lock

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<RegistryLock> PosixRegistry::LockForProbe() {
  int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;  // no registry to write: the probe fails by itself
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return nullptr;
    }
  }
  return std::make_unique<FlockLock>(fd);
}

std::string PosixRegistry::FindKey(const std::string& key) {
  std::string dir = FindEntry(root_, kHive, true);
  if (dir.empty()) return "";
  for (const std::string& part : SplitKey(key)) {
    dir = FindEntry(dir, part, true);
    if (dir.empty()) return "";
  }
  return dir;
}

std::string PosixRegistry::FindValue(const std::string& key_dir, const std::string& name) {
  std::string file = FindEntry(key_dir, name, false);
  if (file.empty()) file = FindEntry(key_dir + "/" + kOverflowDir, name, false);
  return file;
}

Registry::ReadResult PosixRegistry::ReadValue(const std::string& key, const std::string& name,
                                              std::string* value) {
  std::string dir = FindKey(key);
  if (dir.empty()) return ReadResult::kNoKey;
  std::string file = FindValue(dir, name);
  if (file.empty()) return ReadResult::kNoValue;
  int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ReadResult::kNoValue;
  struct stat st;
  std::string bytes;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_size) <= kMaxReadBytes) {
    bytes.resize(static_cast<size_t>(st.st_size));
    ssize_t n = ::read(fd, bytes.data(), bytes.size());
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  ::close(fd);
  *value = bytes;
  // A string value written with its terminator reads as the text before it.
  if (size_t nul = value->find('\0'); nul != std::string::npos) value->resize(nul);
  return ReadResult::kOk;
}

bool PosixRegistry::KeyExists(const std::string& key) { return !FindKey(key).empty(); }

Registry::ReadResult PosixRegistry::ReadDword(const std::string& key, const std::string& name,
                                              uint32_t* value) {
  std::string text;
  ReadResult r = ReadValue(key, name, &text);
  if (r != ReadResult::kOk) return r;
  *value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return ReadResult::kOk;
}

bool PosixRegistry::OpenForWrite(const std::string& key) {
  std::string dir = FindKey(key);
  return !dir.empty() && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool PosixRegistry::SetStringValue(const std::string& key, const std::string& name,
                                   const std::string& value) {
  std::string dir = FindKey(key);
  if (dir.empty()) return false;
  std::string file = FindValue(dir, name);
  if (file.empty()) {
    // A subkey of this name has the name's place; the value goes beside, as on Windows
    // a value and a subkey of one name live side by side.
    bool failed = false;
    if (FindEntry(dir, name, true, &failed).empty()) {
      if (failed) return false;
      file = dir + "/" + name;
    } else {
      std::string overflow = dir + "/" + kOverflowDir;
      if (::mkdir(overflow.c_str(), 0755) != 0 && errno != EEXIST) return false;
      file = overflow + "/" + name;
    }
  }
  return WriteValueFile(file, value);
}

bool PosixRegistry::DeleteValue(const std::string& key, const std::string& name) {
  std::string dir = FindKey(key);
  std::string file = dir.empty() ? "" : FindValue(dir, name);
  if (file.empty() || ::unlink(file.c_str()) != 0) return false;
  // The place of values whose name a key holds goes with its last value.
  if (file.rfind(dir + "/" + kOverflowDir + "/", 0) == 0) {
    ::rmdir((dir + "/" + kOverflowDir).c_str());
  }
  return true;
}

bool PosixRegistry::CreateKey(const std::string& key, const std::string& /*class_name*/) {
  if (!FindKey(key).empty()) return true;
  std::vector<std::string> parts = SplitKey(key);
  if (parts.empty()) return false;
  std::string leaf = parts.back();
  parts.pop_back();
  std::string parent;
  for (const std::string& part : parts) parent += part + "\\";
  std::string dir = FindKey(parent);
  if (dir.empty()) return false;
  // A value of this name moves beside, to where values live whose name a key holds.
  bool failed = false;
  std::string value = FindEntry(dir, leaf, false, &failed);
  if (failed) return false;
  if (!value.empty()) {
    std::string overflow = dir + "/" + kOverflowDir;
    if (::mkdir(overflow.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (::rename(value.c_str(), (overflow + "/" + leaf).c_str()) != 0) return false;
  }
  // As RegCreateKeyEx opens a key that exists: another launcher probing at the same
  // moment may have made it between the look-up and here.
  return ::mkdir((dir + "/" + leaf).c_str(), 0755) == 0 || errno == EEXIST;
}

bool PosixRegistry::DeleteKey(const std::string& key) {
  std::string dir = FindKey(key);
  return !dir.empty() && ::rmdir(dir.c_str()) == 0;
}

}  // namespace zorvex::platform
