#include <cstdlib>
#include <ctime>

#include "platform/win32/win32.h"

namespace zorvex::platform {

bool Win32System::ModulePath(std::string* path, uint32_t* error) {
  std::string buffer(32768, '\0');
  DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) {
    *error = n == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  buffer.resize(n);
  *path = buffer;
  return true;
}

std::optional<std::string> Win32System::GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void Win32System::UserLocale(std::string* language, std::string* country) {
  char lang[32] = {0};
  char ctry[29] = {0};
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, lang, sizeof lang);
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVCTRYNAME, ctry, sizeof ctry);
  *language = lang;
  *country = ctry;
}

std::tm Win32System::LocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  return local;
}

uint32_t Win32System::TickCount() { return GetTickCount(); }

bool Win32System::IsAnsiLetter(unsigned char c) { return IsCharAlphaA(static_cast<CHAR>(c)) != 0; }

std::string Win32System::ProfileString(const std::string& section, const std::string& key,
                                       const std::string& default_value, const std::string& file) {
  // The call truncates silently; grow the buffer until the value fits.
  for (DWORD size = 1024;; size *= 2) {
    std::string buffer(size, '\0');
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), default_value.c_str(),
                                       buffer.data(), size, file.c_str());
    if (n < size - 1 || size >= (1u << 20)) {
      buffer.resize(n);
      return buffer;
    }
  }
}

OsVersion Win32System::GetOsVersionInfo() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&info);
#pragma GCC diagnostic pop
  OsVersion version;
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  version.service_pack = info.szCSDVersion;
  return version;
}

int Win32System::DisplayBitsPerPixel() {
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return 0;
  int bits = GetDeviceCaps(dc, BITSPIXEL);
  DeleteDC(dc);
  return bits;
}

uint32_t Win32System::CpuMhz() {
  ScopedKey k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Hardware\\Description\\System\\CentralProcessor\\0", 0,
                    KEY_QUERY_VALUE, k.out()) != ERROR_SUCCESS) {
    return 0;
  }
  DWORD mhz = 0;
  DWORD size = sizeof mhz;
  if (RegQueryValueExA(k.get(), "~MHz", nullptr, nullptr, reinterpret_cast<BYTE*>(&mhz), &size) !=
      ERROR_SUCCESS) {
    return 0;
  }
  return mhz;
}

PagingInfo Win32System::Paging() {
  PagingInfo info;
  ScopedKey k;
  LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                         "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
                         0, KEY_QUERY_VALUE, k.out());
  if (r == ERROR_SUCCESS) {
    char buffer[1024];
    DWORD size = sizeof buffer;
    r = RegQueryValueExA(k.get(), "PagingFiles", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size);
    if (r == ERROR_SUCCESS) {
      info.have_list = true;
      info.list.assign(buffer, size);
    }
  }
  if (r != ERROR_SUCCESS) info.list_error = static_cast<uint32_t>(r);
  info.vista_or_later = GetOsVersionInfo().major >= 6;
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) info.available_mb = status.ullAvailPageFile / (1024 * 1024);
  return info;
}

}  // namespace zorvex::platform
