// Fault injection for the Windows programs of the fault sweep (the windows build's
// faults/): linked into setup.exe and unzip.exe with the linker's --wrap of each function's
// import below, so that every call of these system functions goes through Hit() first.
// The same environment as the POSIX layer (faults_posix.cpp): ZORVEX_FAULT_PROGRAM (the
// program's name without ".exe"), ZORVEX_FAULT_TRACE, ZORVEX_FAULT_AT, ZORVEX_FAULT_KILL
// (TerminateProcess) and ZORVEX_FAULT_REPORT; the error is the one Windows gives.
// Two settings stand for the machines of administrators rather than for one failed call:
// ZORVEX_FAULT_START=E fails every start of a program with error E (a policy's 1260, an
// antivirus's 225 or 226), and ZORVEX_FAULT_BUSY=N fails the first N deletions and renames
// with a sharing violation, as a scanner holding a fresh file does.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Settings {
  bool active = false;
  long fail_at = 0;
  long kill_at = 0;
  std::string trace;
  std::string report;
  DWORD start_error = 0;
  long busy = 0;
};

std::string Env(const char* name) {
  char buf[4096];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : "";
}

const Settings& Config() {
  static const Settings settings = [] {
    Settings s;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name(path, n);
    name = name.substr(name.find_last_of("\\/") + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
      name.resize(name.size() - 4);
    const std::string program = Env("ZORVEX_FAULT_PROGRAM");
    if (program.empty() || _stricmp(program.c_str(), name.c_str()) != 0) return s;
    s.active = true;
    s.fail_at = std::atol(Env("ZORVEX_FAULT_AT").c_str());
    s.kill_at = std::atol(Env("ZORVEX_FAULT_KILL").c_str());
    s.trace = Env("ZORVEX_FAULT_TRACE");
    s.report = Env("ZORVEX_FAULT_REPORT");
    s.start_error = static_cast<DWORD>(std::atol(Env("ZORVEX_FAULT_START").c_str()));
    s.busy = std::atol(Env("ZORVEX_FAULT_BUSY").c_str());
    return s;
  }();
  return settings;
}

std::atomic<long> g_calls{0};
std::atomic<long> g_busy_calls{0};

// The error a call is given whatever its turn (ZORVEX_FAULT_START, ZORVEX_FAULT_BUSY);
// false when none.
bool Forced(const std::string& name, DWORD* error) {
  const Settings& s = Config();
  if (!s.active) return false;
  if (s.start_error != 0 && name.rfind("CreateProcess", 0) == 0) {
    *error = s.start_error;
    return true;
  }
  const bool removes = name == "DeleteFileW" || name == "RemoveDirectoryW" ||
                       name == "MoveFileExW" || name == "Disposition";
  if (s.busy > 0 && removes && ++g_busy_calls <= s.busy) {
    *error = ERROR_SHARING_VIOLATION;
    return true;
  }
  return false;
}

std::string Utf8(const wchar_t* w) {
  if (w == nullptr) return "";
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::string HandleName(HANDLE h) {
  wchar_t buf[4096];
  DWORD n = GetFinalPathNameByHandleW(h, buf, 4096, 0);
  if (n == 0 || n >= 4096) return "handle";
  std::string s = Utf8(buf);
  return s.rfind("\\\\?\\", 0) == 0 ? s.substr(4) : s;
}

void Append(const std::string& file, const std::string& line) {
  if (FILE* f = std::fopen(file.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
}

// Counts the call; true when it is the one to fail (the caller then sets `error`).
template <typename What>
bool Hit(const char* name, DWORD error, What what) {
  const Settings& s = Config();
  if (!s.active) return false;
  long n = ++g_calls;
  if (!s.trace.empty()) Append(s.trace, std::to_string(n) + " " + name + " " + what() + "\n");
  if (n == s.kill_at) TerminateProcess(GetCurrentProcess(), 137);
  if (n != s.fail_at) return false;
  if (!s.report.empty()) {
    Append(s.report,
           std::to_string(n) + " " + name + " " + what() + " " + std::to_string(error) + "\n");
  }
  return true;
}

auto W(const wchar_t* p) {
  return [p] { return Utf8(p); };
}
auto A(const char* p) {
  return [p] { return std::string(p ? p : ""); };
}
auto H(HANDLE h) {
  return [h] { return HandleName(h); };
}

// Opening fails as Windows fails it: no permission, another process holding the file, or
// no handle left.
DWORD OpenError() {
  long n = g_calls.load() % 3;
  return n == 0   ? ERROR_ACCESS_DENIED
         : n == 1 ? ERROR_SHARING_VIOLATION
                  : ERROR_TOO_MANY_OPEN_FILES;
}

bool IsConsole(HANDLE h) {
  return GetFileType(h) == FILE_TYPE_CHAR || GetFileType(h) == FILE_TYPE_PIPE;
}

}  // namespace

// Declares the import's real pointer, a replacement that fails when Hit says so, and the
// pointer the program's calls now go through.
#define FAULTY(ret, name, params, args, fail, error, what) \
  extern "C" decltype(&name) __real___imp_##name;          \
  static ret WINAPI Faulty_##name params {                 \
    DWORD forced = 0;                                      \
    if (Forced(#name, &forced)) {                          \
      SetLastError(forced);                                \
      return fail;                                         \
    }                                                      \
    if (Hit(#name, error, what)) {                         \
      SetLastError(error);                                 \
      return fail;                                         \
    }                                                      \
    return __real___imp_##name args;                       \
  }                                                        \
  extern "C" {                                             \
  decltype(&name) __wrap___imp_##name = Faulty_##name;     \
  }

FAULTY(HANDLE, CreateFileW,
       (LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t),
       (p, a, s, sa, c, f, t), INVALID_HANDLE_VALUE, OpenError(), W(p))
FAULTY(HANDLE, CreateFileA,
       (LPCSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t),
       (p, a, s, sa, c, f, t), INVALID_HANDLE_VALUE, OpenError(), A(p))
FAULTY(BOOL, CreateDirectoryW, (LPCWSTR p, LPSECURITY_ATTRIBUTES sa), (p, sa), FALSE,
       g_calls.load() % 2 ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED, W(p))
FAULTY(BOOL, RemoveDirectoryW, (LPCWSTR p), (p), FALSE, ERROR_SHARING_VIOLATION, W(p))
FAULTY(BOOL, RemoveDirectoryA, (LPCSTR p), (p), FALSE, ERROR_SHARING_VIOLATION, A(p))
FAULTY(BOOL, DeleteFileW, (LPCWSTR p), (p), FALSE, ERROR_SHARING_VIOLATION, W(p))
FAULTY(BOOL, MoveFileExW, (LPCWSTR f, LPCWSTR t, DWORD fl), (f, t, fl), FALSE, ERROR_ACCESS_DENIED,
       W(t))
FAULTY(HANDLE, FindFirstFileW, (LPCWSTR p, LPWIN32_FIND_DATAW d), (p, d), INVALID_HANDLE_VALUE,
       ERROR_ACCESS_DENIED, W(p))
FAULTY(BOOL, FindNextFileW, (HANDLE h, LPWIN32_FIND_DATAW d), (h, d), FALSE, ERROR_IO_DEVICE,
       A("a directory listing"))
FAULTY(DWORD, GetFileAttributesW, (LPCWSTR p), (p), INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED,
       W(p))
FAULTY(DWORD, GetFileAttributesA, (LPCSTR p), (p), INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED,
       A(p))
FAULTY(BOOL, SetFileAttributesA, (LPCSTR p, DWORD a), (p, a), FALSE, ERROR_ACCESS_DENIED, A(p))
FAULTY(BOOL, GetFileInformationByHandle, (HANDLE h, LPBY_HANDLE_FILE_INFORMATION i), (h, i), FALSE,
       ERROR_IO_DEVICE, H(h))
FAULTY(BOOL, GetFileInformationByHandleEx,
       (HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID b, DWORD n), (h, c, b, n), FALSE,
       ERROR_IO_DEVICE, H(h))
// A deletion through a handle is a disposition set on it: the one ZORVEX_FAULT_BUSY holds.
extern "C" decltype(&SetFileInformationByHandle) __real___imp_SetFileInformationByHandle;
static BOOL WINAPI Faulty_SetFileInformationByHandle(HANDLE h, FILE_INFO_BY_HANDLE_CLASS c,
                                                     LPVOID b, DWORD n) {
  DWORD forced = 0;
  if (c == FileDispositionInfo && Forced("Disposition", &forced)) {
    SetLastError(forced);
    return FALSE;
  }
  if (Hit("SetFileInformationByHandle", ERROR_ACCESS_DENIED, H(h))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return __real___imp_SetFileInformationByHandle(h, c, b, n);
}
extern "C" {
decltype(&SetFileInformationByHandle) __wrap___imp_SetFileInformationByHandle =
    Faulty_SetFileInformationByHandle;
}
FAULTY(BOOL, SetFileTime, (HANDLE h, const FILETIME* c, const FILETIME* a, const FILETIME* w),
       (h, c, a, w), FALSE, ERROR_ACCESS_DENIED, H(h))
FAULTY(BOOL, GetFileSizeEx, (HANDLE h, PLARGE_INTEGER s), (h, s), FALSE, ERROR_IO_DEVICE, H(h))
FAULTY(BOOL, GetDiskFreeSpaceExW,
       (LPCWSTR p, PULARGE_INTEGER a, PULARGE_INTEGER t, PULARGE_INTEGER f), (p, a, t, f), FALSE,
       ERROR_IO_DEVICE, W(p))
FAULTY(HANDLE, CreateFileMappingW,
       (HANDLE h, LPSECURITY_ATTRIBUTES sa, DWORD p, DWORD hi, DWORD lo, LPCWSTR n),
       (h, sa, p, hi, lo, n), nullptr, ERROR_NOT_ENOUGH_MEMORY, H(h))
FAULTY(BOOL, CopyFileA, (LPCSTR f, LPCSTR t, BOOL x), (f, t, x), FALSE, ERROR_DISK_FULL, A(t))
FAULTY(BOOL, CreateProcessW,
       (LPCWSTR a, LPWSTR c, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta, BOOL i, DWORD f,
        LPVOID e, LPCWSTR d, LPSTARTUPINFOW s, LPPROCESS_INFORMATION p),
       (a, c, pa, ta, i, f, e, d, s, p), FALSE, ERROR_NOT_ENOUGH_MEMORY, W(a ? a : c))
FAULTY(BOOL, CreateProcessA,
       (LPCSTR a, LPSTR c, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta, BOOL i, DWORD f,
        LPVOID e, LPCSTR d, LPSTARTUPINFOA s, LPPROCESS_INFORMATION p),
       (a, c, pa, ta, i, f, e, d, s, p), FALSE, ERROR_NOT_ENOUGH_MEMORY, A(a ? a : c))

// Writing: no room, or the device failing; the console and pipes (the reports of a
// failure) are not failed.
extern "C" decltype(&WriteFile) __real___imp_WriteFile;
static BOOL WINAPI Faulty_WriteFile(HANDLE h, LPCVOID b, DWORD n, LPDWORD w, LPOVERLAPPED o) {
  DWORD error = g_calls.load() % 2 ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
  if (!IsConsole(h) && Hit("WriteFile", error, H(h))) {
    SetLastError(error);
    return FALSE;
  }
  return __real___imp_WriteFile(h, b, n, w, o);
}
extern "C" {
decltype(&WriteFile) __wrap___imp_WriteFile = Faulty_WriteFile;
}

extern "C" decltype(&ReadFile) __real___imp_ReadFile;
static BOOL WINAPI Faulty_ReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o) {
  if (!IsConsole(h) && Hit("ReadFile", ERROR_IO_DEVICE, H(h))) {
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
  }
  return __real___imp_ReadFile(h, b, n, r, o);
}
extern "C" {
decltype(&ReadFile) __wrap___imp_ReadFile = Faulty_ReadFile;
}
