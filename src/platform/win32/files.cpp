#include <direct.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/stdio_append_file.h"
#include "platform/win32/win32.h"
#include "unzip/output.h"
// After win32.h, which brings in <windows.h> that it builds on.
#include <sddl.h>

namespace zorvex::platform {

namespace {

std::wstring WideFromAnsi(const std::string& ansi) {
  if (ansi.empty()) return L"";
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

std::string AnsiFromWide(const std::wstring& wide) {
  if (wide.empty()) return "";
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), n,
                      nullptr, nullptr);
  return ansi;
}

// The "\\?\" form of a path, for the calls that then take paths beyond 260 characters and
// names exactly as listed: a name ending in a dot or blank is that name, not the one
// without it. An absolute path without "." and ".." parts is prefixed as it stands (the
// launcher's are made from absolute directories and listed names); another is made
// absolute and folded first.
std::wstring LongPath(const std::string& path) {
  std::wstring wide = WideFromAnsi(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const std::wstring padded = wide + L"\\";
  const bool dots =
      padded.find(L"\\.\\") != std::wstring::npos || padded.find(L"\\..\\") != std::wstring::npos;
  if (!dots && wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
  if (!dots && wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return full.empty() ? wide : L"\\\\?\\" + full;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(LongPath(path).c_str()); }

// The launcher's paths are in the ANSI code page; the unzip's are UTF-8.
std::string Utf8FromAnsi(const std::string& ansi) {
  if (ansi.empty()) return "";
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                      nullptr, nullptr);
  return utf8;
}

// Seconds since 1970 of a FILETIME (100 ns since 1601).
int64_t UnixSeconds(const FILETIME& ft) {
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

// The staging copy's writer: the unzip's destination, which refuses a reparse point where
// a directory goes and writes new files beside their names.
class Win32TreeWriter : public TreeWriter {
 public:
  explicit Win32TreeWriter(std::unique_ptr<unzip::Output> out) : out_(std::move(out)) {}

  bool MakeDirs(const std::string& rel) override {
    std::string error;
    return rel.empty() || out_->MakeDirectory(Utf8FromAnsi(rel), &error);
  }

  bool CopyRegularFile(const std::string& from, const std::string& rel) override {
    ScopedHandle in(CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!in.valid() || GetFileType(in.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(in.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      return false;
    }
    size_t cut = rel.find_last_of('/');
    if (cut != std::string::npos && !MakeDirs(rel.substr(0, cut))) return false;
    std::string error;
    std::unique_ptr<unzip::OutputFile> out =
        out_->CreateFile(Utf8FromAnsi(rel), std::nullopt, &error);
    if (!out) return false;
    std::vector<uint8_t> buffer(1 << 18);
    for (;;) {
      DWORD done = 0;
      if (!::ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &done, nullptr))
        return false;
      if (done == 0) break;
      if (!out->Write(buffer.data(), done)) return false;
    }
    bool exists = false;
    return out->Commit(UnixSeconds(info.ftLastWriteTime), true, &exists, &error);
  }

  // Making a link needs a privilege an installer cannot count on.
  FileSystem::LinkCopy CopyLink(const std::string&, const std::string&) override {
    return FileSystem::LinkCopy::kNotCopied;
  }

 private:
  std::unique_ptr<unzip::Output> out_;
};

}  // namespace

std::unique_ptr<TreeWriter> Win32FileSystem::OpenTreeWriter(const std::string& root) {
  std::string error;
  std::unique_ptr<unzip::Output> out = unzip::OpenOutput(Utf8FromAnsi(root), &error);
  if (!out) return nullptr;
  return std::make_unique<Win32TreeWriter>(std::move(out));
}

bool Win32FileSystem::Exists(const std::string& path) {
  return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

// As the C runtime's access check: a directory may always be written, a file unless it is
// read-only.
bool Win32FileSystem::CanReadWrite(const std::string& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                                                   (attributes & FILE_ATTRIBUTE_READONLY) == 0);
}

bool Win32FileSystem::IsDirectory(const std::string& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32FileSystem::MoveFileNoReplace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
}

std::string OwnerOnlySddl() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  ScopedHandle guard(token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  char* sid = nullptr;
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size) ||
      !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
    return "";
  }
  const std::string sddl =
      std::string("D:P(A;OICI;FA;;;") + sid + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  LocalFree(sid);
  return sddl;
}

FileSystem::MakeDirResult Win32FileSystem::MakeDir(const std::string& path, bool owner_only) {
  if (!owner_only) {
    if (CreateDirectoryW(LongPath(path).c_str(), nullptr)) return MakeDirResult::kCreated;
    return GetLastError() == ERROR_ALREADY_EXISTS ? MakeDirResult::kAlreadyExists
                                                  : MakeDirResult::kFailed;
  }
  // A TEMP shared with other users (C:\TEMP) must not let them put classes in the
  // scratch directory before Java starts; without its own access list it is not made.
  const std::string sddl = OwnerOnlySddl();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                          sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return MakeDirResult::kFailed;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  BOOL made = CreateDirectoryW(LongPath(path).c_str(), &attributes);
  DWORD error = GetLastError();
  LocalFree(descriptor);
  if (made) return MakeDirResult::kCreated;
  return error == ERROR_ALREADY_EXISTS ? MakeDirResult::kAlreadyExists : MakeDirResult::kFailed;
}

bool Win32FileSystem::RemoveDir(const std::string& path) {
  return RemoveDirectoryW(LongPath(path).c_str()) != 0;
}

bool Win32FileSystem::RemoveFile(const std::string& path) {
  return DeleteFileW(LongPath(path).c_str()) != 0;
}

bool Win32FileSystem::MakeWritable(const std::string& path) {
  const std::wstring long_path = LongPath(path);
  DWORD attributes = GetFileAttributesW(long_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  return SetFileAttributesW(long_path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

bool Win32FileSystem::IsLink(const std::string& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool Win32FileSystem::RemoveLink(const std::string& path) {
  // A junction or directory link is removed as a directory, which removes the link alone.
  const std::wstring long_path = LongPath(path);
  DWORD attributes = GetFileAttributesW(long_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return RemoveDirectoryW(long_path.c_str()) != 0;
  return DeleteFileW(long_path.c_str()) != 0;
}

FileSystem::LinkCopy Win32FileSystem::CopyLink(const std::string&, const std::string&) {
  return LinkCopy::kNotCopied;
}

bool Win32FileSystem::CopyFileOverwriting(const std::string& from, const std::string& to) {
  if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) return false;
  DWORD attributes = GetFileAttributesA(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  return true;
}

bool Win32FileSystem::ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) {
  entries->clear();
  std::wstring pattern = LongPath(dir);
  if (pattern.empty() || pattern.back() != L'\\') pattern.push_back(L'\\');
  pattern += L"*";
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back({AnsiFromWide(data.cFileName), directory && !link, link});
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

FileSystem::ReadResult Win32FileSystem::ReadFile(const std::string& path, std::string* bytes) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return ReadResult::kCannotOpen;
  // Only a file on a disk: a console, a pipe or a device would never end or never answer.
  LARGE_INTEGER size;
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size)) {
    return ReadResult::kCannotOpen;
  }
  if (static_cast<uint64_t>(size.QuadPart) > kMaxReadBytes) return ReadResult::kTooLarge;
  std::string data(static_cast<size_t>(size.QuadPart), '\0');
  DWORD done = 0;
  if (!data.empty() &&
      !::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr)) {
    return ReadResult::kCannotOpen;
  }
  data.resize(done);
  *bytes = std::move(data);
  return ReadResult::kOk;
}

std::unique_ptr<AppendFile> Win32FileSystem::OpenForAppend(const std::string& path) {
  // Text mode, as the logs have always been written: "\n" becomes CR LF.
  return OpenStdioAppendFile(path, "a");
}

bool Win32FileSystem::FullPath(const std::string& path, std::string* full) {
  char* result = _fullpath(nullptr, path.c_str(), 0);
  if (result == nullptr) return false;
  *full = result;
  std::free(result);
  return true;
}

bool Win32FileSystem::SetWorkingDirectory(const std::string& path) {
  return _chdir(path.c_str()) == 0;
}

bool Win32FileSystem::FreeSpaceKb(const std::string& path, uint64_t* kb) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr)) return false;
  *kb = available.QuadPart / 1024;
  return true;
}

}  // namespace zorvex::platform
