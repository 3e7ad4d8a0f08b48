#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "medium/host.h"
#include "medium/sign.h"

namespace zorvex::medium {

namespace fs = std::filesystem;

int RunCaptured(const std::vector<std::string>&, std::string* output, int, bool) {
  *output = "signing runs osslsigncode, which this Windows build does not start: sign on Linux";
  return -1;
}

namespace host {

bool IsWindows() { return true; }
std::string ProgramName(const std::string& name) { return name + ".exe"; }

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }
std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : "";
}
bool ProcessMayRun(long pid) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (h == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

fs::path PrivateDirectory() {
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (ec) return {};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        temp / ("zorvex-medium-signature-" + std::to_string(std::random_device()()));
    if (fs::create_directory(candidate, ec)) return candidate;
  }
  return {};
}

int PasswordPipe(const std::string&, std::string* error) {
  *error = "signing runs osslsigncode, which this Windows build does not start: sign on Linux";
  return -1;
}

void ClosePipe(int) {}

void Unsetenv(const char* name) { _putenv((std::string(name) + "=").c_str()); }
void KeepMemoryPrivate() {}

std::tm UtcTime(std::time_t t) {
  std::tm tm{};
  gmtime_s(&tm, &t);
  return tm;
}

int DuplicateDescriptor(int fd) { return _dup(fd); }
void PutDescriptor(int from, int to) { _dup2(from, to); }
void CloseDescriptor(int fd) { _close(fd); }

}  // namespace host
}  // namespace zorvex::medium
