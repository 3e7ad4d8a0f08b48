#include <direct.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/stdio_append_file.h"
#include "platform/win32/win32.h"
#include "unzip/output.h"

namespace zorvex::platform {

namespace {

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

bool Win32FileSystem::Exists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

bool Win32FileSystem::CanReadWrite(const std::string& path) {
  return _access(path.c_str(), 6) == 0;
}

bool Win32FileSystem::IsDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32FileSystem::MoveFileNoReplace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
}

FileSystem::MakeDirResult Win32FileSystem::MakeDir(const std::string& path, bool /*owner_only*/) {
  if (_mkdir(path.c_str()) == 0) return MakeDirResult::kCreated;
  return errno == EEXIST ? MakeDirResult::kAlreadyExists : MakeDirResult::kFailed;
}

bool Win32FileSystem::RemoveDir(const std::string& path) {
  return RemoveDirectoryA(path.c_str()) != 0;
}

bool Win32FileSystem::RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool Win32FileSystem::IsLink(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool Win32FileSystem::RemoveLink(const std::string& path) {
  // A junction or directory link is removed as a directory, which removes the link alone.
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return RemoveDirectoryA(path.c_str()) != 0;
  return DeleteFileA(path.c_str()) != 0;
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
  std::string pattern = dir;
  if (pattern.empty() || pattern.back() != '\\') pattern.push_back('\\');
  pattern += "*.*";
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back({data.cFileName, directory && !link, link});
  } while (FindNextFileA(find, &data));
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
