#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/mman.h>
#include <sys/stat.h>
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
