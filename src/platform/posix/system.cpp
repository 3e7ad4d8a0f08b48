#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/posix/posix_platform.h"
#include "platform/profile_string.h"

namespace zorvex::platform {

bool PosixSystem::ModulePath(std::string* path, uint32_t* error) {
  if (!module_path_.empty()) {
    *path = module_path_;
    return true;
  }
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n < 0 || static_cast<size_t>(n) >= buffer.size()) {
    *error = n < 0 ? static_cast<uint32_t>(errno) : static_cast<uint32_t>(ENAMETOOLONG);
    return false;
  }
  buffer.resize(static_cast<size_t>(n));
  *path = module_path_ = buffer;
  return true;
}

std::optional<std::string> PosixSystem::GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void PosixSystem::UserLocale(std::string* language, std::string* country) {
  std::string tag;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      tag = value;
      break;
    }
  }
  if (tag.empty() || tag == "C" || tag == "POSIX" || tag.rfind("C.", 0) == 0) {
    *language = "en";
    *country = "US";
    return;
  }
  // language[_COUNTRY][.codeset][@modifier]
  size_t end = tag.find_first_of(".@");
  if (end != std::string::npos) tag.resize(end);
  size_t underscore = tag.find('_');
  *language = tag.substr(0, underscore);
  *country = underscore == std::string::npos ? "" : tag.substr(underscore + 1);
}

std::tm PosixSystem::LocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return local;
}

uint32_t PosixSystem::TickCount() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

bool PosixSystem::IsAnsiLetter(unsigned char c) { return std::isalpha(c) != 0; }

std::string PosixSystem::ProfileString(const std::string& section, const std::string& key,
                                       const std::string& default_value, const std::string& file) {
  std::string text;
  if (!ReadWholeFile(file, &text)) return default_value;
  return ReadProfileString(text, section, key, default_value);
}

OsVersion PosixSystem::GetOsVersionInfo() {
  OsVersion version;
  struct utsname name;
  if (::uname(&name) == 0) {
    char* end = nullptr;
    version.major = static_cast<uint32_t>(std::strtoul(name.release, &end, 10));
    if (end != nullptr && *end == '.') {
      version.minor = static_cast<uint32_t>(std::strtoul(end + 1, nullptr, 10));
    }
  }
  return version;
}

// The console frame buffer tells its depth without a display connection, which a launcher
// started from a terminal or a script does not have; 0 says "unknown".
int PosixSystem::DisplayBitsPerPixel() {
  std::ifstream in("/sys/class/graphics/fb0/bits_per_pixel");
  int bits = 0;
  if (!(in >> bits)) return 0;
  return bits;
}

uint32_t PosixSystem::CpuMhz() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("cpu MHz", 0) != 0) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) return 0;
    return static_cast<uint32_t>(std::strtod(line.c_str() + colon + 1, nullptr));
  }
  return 0;
}

PagingInfo PosixSystem::Paging() {
  PagingInfo info;
  info.vista_or_later = true;
  std::ifstream in("/proc/swaps");
  if (in) {
    info.have_list = true;
    std::string line;
    std::getline(in, line);  // column headings
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string file, type;
      uint64_t size_kb = 0;
      if (!(fields >> file >> type >> size_kb)) continue;
      // Written as a Windows paging-file entry ("C:\pagefile.sys 1024 2048") without a
      // drive letter: the colon before the path is what the list's reader splits at, so
      // colons inside the path would cut it.
      for (char& c : file) {
        if (c == ':') c = '_';
      }
      std::string mb = std::to_string(size_kb / 1024);
      info.list += ":" + file + " " + mb + " " + mb;
      info.list.push_back('\0');
    }
  } else {
    info.list_error = 2;
  }
  struct sysinfo si;
  if (::sysinfo(&si) == 0) {
    info.available_mb = static_cast<uint64_t>(si.freeswap) * si.mem_unit / (1024 * 1024);
  }
  return info;
}

}  // namespace zorvex::platform
