#include <direct.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/stdio_append_file.h"
#include "platform/win32/win32.h"

namespace zorvex::platform {

namespace {}  // namespace

bool Win32FileSystem::Exists(const std::string& path) { return _access(path.c_str(), 0) == 0; }

bool Win32FileSystem::CanReadWrite(const std::string& path) {
  return _access(path.c_str(), 6) == 0;
}

FileSystem::MakeDirResult Win32FileSystem::MakeDir(const std::string& path, bool /*owner_only*/) {
  if (_mkdir(path.c_str()) == 0) return MakeDirResult::kCreated;
  return errno == EEXIST ? MakeDirResult::kAlreadyExists : MakeDirResult::kFailed;
}

bool Win32FileSystem::RemoveDir(const std::string& path) {
  return RemoveDirectoryA(path.c_str()) != 0;
}

bool Win32FileSystem::RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool Win32FileSystem::CopyFileOverwriting(const std::string& from, const std::string& to) {
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool Win32FileSystem::MakeOwnerReadWrite(const std::string& path) {
  return _chmod(path.c_str(), _S_IREAD | _S_IWRITE) == 0;
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
    entries->push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return true;
}

bool Win32FileSystem::ReadFile(const std::string& path, std::string* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->append(buffer, n);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
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
