#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

// The entry of `dir` whose name equals `name` ignoring case; empty when there is none.
std::string FindEntry(const std::string& dir, const std::string& name, bool want_dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return "";
  std::string found;
  while (struct dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, name.c_str()) != 0) continue;
    std::string path = dir + "/" + e->d_name;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) == want_dir) {
      found = path;
      break;
    }
  }
  ::closedir(d);
  return found;
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
  return FindEntry(key_dir, name, false);
}

Registry::ReadResult PosixRegistry::ReadValue(const std::string& key, const std::string& name,
                                              std::string* value) {
  std::string dir = FindKey(key);
  if (dir.empty()) return ReadResult::kNoKey;
  std::string file = FindValue(dir, name);
  if (file.empty()) return ReadResult::kNoValue;
  std::ifstream in(file, std::ios::binary);
  if (!in) return ReadResult::kNoValue;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *value = bytes.str();
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
  if (file.empty()) file = dir + "/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << value;
  out.close();
  return static_cast<bool>(out);
}

bool PosixRegistry::DeleteValue(const std::string& key, const std::string& name) {
  std::string dir = FindKey(key);
  std::string file = dir.empty() ? "" : FindValue(dir, name);
  return !file.empty() && ::unlink(file.c_str()) == 0;
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
  // As RegCreateKeyEx opens a key that exists: another launcher probing at the same
  // moment may have made it between the look-up and here.
  return !dir.empty() && (::mkdir((dir + "/" + leaf).c_str(), 0755) == 0 || errno == EEXIST);
}

bool PosixRegistry::DeleteKey(const std::string& key) {
  std::string dir = FindKey(key);
  return !dir.empty() && ::rmdir(dir.c_str()) == 0;
}

}  // namespace zorvex::platform
