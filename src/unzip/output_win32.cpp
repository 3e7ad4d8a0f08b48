// The Windows side of the unzip: every name goes through the wide-character calls, so
// that names beyond the ANSI code page arrive intact, with the "\\?\" prefix, so that
// long paths work and no name is taken for a device.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <set>

#include "unzip/output.h"

namespace zorvex::unzip {

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return L"";
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return "";
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::string ErrorText(DWORD code) { return "system error " + std::to_string(code); }

// The absolute, prefixed form of a path, for the calls that take long paths.
std::wstring Long(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// Seconds since 1970 as a FILETIME (100 ns since 1601).
FILETIME FileTime(int64_t seconds) {
  uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

class Win32Mapped : public MappedArchive {
 public:
  Win32Mapped(HANDLE file, HANDLE mapping, const void* view, size_t size)
      : file_(file), mapping_(mapping), view_(view), size_(size) {}
  ~Win32Mapped() override {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
    CloseHandle(file_);
  }
  const uint8_t* data() const override {
    static const uint8_t kEmpty = 0;
    return view_ != nullptr ? static_cast<const uint8_t*>(view_) : &kEmpty;
  }
  size_t size() const override { return size_; }

 private:
  HANDLE file_;
  HANDLE mapping_;
  const void* view_;
  size_t size_;
};

std::wstring TemporaryBeside(const std::wstring& final) {
  static std::atomic<unsigned long> counter{0};
  size_t cut = final.find_last_of(L'\\');
  // Of bounded length: the final name may be as long as a name can be.
  return final.substr(0, cut + 1) + L".unzip-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter++) + L".tmp";
}

bool Place(const std::wstring& from, const std::wstring& to, bool replace, bool* exists) {
  *exists = false;
  if (MoveFileExW(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) return true;
  DWORD e = GetLastError();
  *exists = !replace && (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS);
  return false;
}

class Win32File : public OutputFile {
 public:
  Win32File(HANDLE h, std::wstring temp, std::wstring final)
      : h_(h), temp_(std::move(temp)), final_(std::move(final)) {}
  ~Win32File() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    if (!committed_) DeleteFileW(temp_.c_str());
  }
  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      DWORD done = 0;
      if (!WriteFile(h_, data, chunk, &done, nullptr) || done == 0) {
        DWORD e = GetLastError();
        disk_full_ = e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL;
        return false;
      }
      data += done;
      size -= done;
    }
    return true;
  }
  bool Commit(int64_t mtime, bool replace, bool* exists, std::string* error) override {
    FILETIME ft = FileTime(mtime);
    SetFileTime(h_, nullptr, &ft, &ft);
    bool ok = CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    if (ok && Place(temp_, final_, replace, exists)) {
      committed_ = true;
      return true;
    }
    if (!*exists) *error = ErrorText(GetLastError());
    return false;
  }
  bool DiskFull() const override { return disk_full_; }

 private:
  HANDLE h_;
  std::wstring temp_;
  std::wstring final_;
  bool committed_ = false;
  bool disk_full_ = false;
};

class Win32Output : public Output {
 public:
  Win32Output(std::string shown, std::wstring root)
      : shown_(std::move(shown)), root_(std::move(root)) {}

  bool MakeOneDirectory(const std::string& rel, std::string* error) override {
    std::wstring path = Full(rel);
    if (CreateDirectoryW(path.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      *error = "cannot create " + DisplayPath(rel) + ": " + ErrorText(GetLastError());
      return false;
    }
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      *error = DisplayPath(rel) + " is not a directory (a file or a link stands there)";
      return false;
    }
    return true;
  }

  std::unique_ptr<OutputFile> CreateFile(const std::string& rel, std::optional<uint32_t>,
                                         std::string* error) override {
    std::wstring final = Full(rel);
    std::wstring temp = TemporaryBeside(final);
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = "cannot create " + DisplayPath(rel) + ": " + ErrorText(GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32File>(h, temp, final);
  }

  // Making a link needs a privilege an installer cannot count on: the link becomes a file
  // holding its target, as unzip programs do on systems without links.
  bool MakeLink(const std::string& rel, const std::string& target, bool replace, bool* exists,
                std::string* error) override {
    std::unique_ptr<OutputFile> file = CreateFile(rel, std::nullopt, error);
    if (!file) return false;
    if (!file->Write(reinterpret_cast<const uint8_t*>(target.data()), target.size())) {
      *error = "cannot write " + DisplayPath(rel);
      return false;
    }
    return file->Commit(std::time(nullptr), replace, exists, error);
  }

  void SetDirectoryAttributes(const std::string& rel, std::optional<uint32_t>,
                              int64_t mtime) override {
    HANDLE h = CreateFileW(Full(rel).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    FILETIME ft = FileTime(mtime);
    SetFileTime(h, nullptr, &ft, &ft);
    CloseHandle(h);
  }

  bool FreeBytes(uint64_t* bytes) override {
    ULARGE_INTEGER free_to_caller;
    if (!GetDiskFreeSpaceExW(root_.c_str(), &free_to_caller, nullptr, nullptr)) return false;
    *bytes = free_to_caller.QuadPart;
    return true;
  }

  std::string DisplayPath(const std::string& rel) const override {
    std::string path = shown_ + "\\" + rel;
    std::replace(path.begin() + static_cast<long>(shown_.size()), path.end(), '/', '\\');
    return path;
  }

 private:
  std::wstring Full(const std::string& rel) const {
    std::wstring path = root_ + L"\\" + Wide(rel);
    std::replace(path.begin() + static_cast<long>(root_.size()), path.end(), L'/', L'\\');
    return path;
  }
  std::string shown_;
  std::wstring root_;
};

bool HasWildcard(const std::string& text) { return text.find_first_of("*?[") != std::string::npos; }

}  // namespace

std::unique_ptr<MappedArchive> MapArchive(const std::string& path, std::string* error) {
  HANDLE file = CreateFileW(Long(Wide(path)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = ErrorText(GetLastError());
    return nullptr;
  }
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    CloseHandle(file);
    *error = "not a regular file";
    return nullptr;
  }
  if (size.QuadPart == 0) return std::make_unique<Win32Mapped>(file, nullptr, nullptr, 0);
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (view == nullptr) {
    *error = ErrorText(GetLastError());
    if (mapping != nullptr) CloseHandle(mapping);
    CloseHandle(file);
    return nullptr;
  }
  return std::make_unique<Win32Mapped>(file, mapping, view, static_cast<size_t>(size.QuadPart));
}

std::unique_ptr<Output> OpenOutput(const std::string& dir, std::string* error) {
  std::string shown = dir.empty() ? "." : dir;
  while (shown.size() > 3 && (shown.back() == '\\' || shown.back() == '/')) shown.pop_back();
  std::wstring root = Long(Wide(shown));
  while (root.size() > 7 && root.back() == L'\\') root.pop_back();
  // Make the directory and its parents: each separator after the drive ("\\?\C:\") or
  // the share ("\\?\UNC\server\share\") ends a parent.
  size_t start = std::wstring::npos;
  if (root.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    size_t server_end = root.find(L'\\', 8);
    if (server_end != std::wstring::npos) start = root.find(L'\\', server_end + 1);
  } else {
    start = root.find(L'\\', 7);
  }
  for (size_t pos = start; pos != std::wstring::npos; pos = root.find(L'\\', pos + 1)) {
    CreateDirectoryW(root.substr(0, pos).c_str(), nullptr);
  }
  CreateDirectoryW(root.c_str(), nullptr);
  DWORD a = GetFileAttributesW(root.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = "cannot create " + shown + ": " + ErrorText(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32Output>(shown, root);
}

std::vector<std::string> ExpandArchivePattern(const std::string& pattern) {
  size_t cut = pattern.find_last_of("\\/");
  std::string leaf = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (!HasWildcard(leaf)) return {pattern};
  std::string dir = cut == std::string::npos ? "" : pattern.substr(0, cut + 1);
  std::vector<std::string> matches;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(Wide(pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return matches;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    matches.push_back(dir + Narrow(data.cFileName));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(matches.begin(), matches.end());
  return matches;
}

// A console takes UTF-16; a file or pipe takes the UTF-8 bytes.
void Print(DWORD which, FILE* stream, const std::string& text) {
  HANDLE h = GetStdHandle(which);
  DWORD mode = 0;
  if (h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
    std::wstring wide = Wide(text);
    DWORD written = 0;
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void PrintOut(const std::string& text) { Print(STD_OUTPUT_HANDLE, stdout, text); }
void PrintErr(const std::string& text) { Print(STD_ERROR_HANDLE, stderr, text); }

std::string FormatLocalTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_s(&local, &t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

bool MakesLinks() { return false; }
bool BackslashSeparates() { return true; }

}  // namespace zorvex::unzip
