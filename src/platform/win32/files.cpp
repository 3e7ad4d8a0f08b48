#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "manifest/manifest.h"
#include "platform/stdio_append_file.h"
#include "platform/win32/win32.h"
#include "safetree/held_win32.h"
#include "safetree/tree.h"
#include "safetree/win32_text.h"
// After win32.h, which brings in <windows.h> that it builds on.
#include <aclapi.h>
#include <sddl.h>

namespace zorvex::platform {

namespace {

constexpr char kNotADirectory[] = "is not a directory";

std::wstring WideFromAnsi(const std::string& ansi) { return safetree::WideFrom(ansi, CP_ACP); }

std::string AnsiFromWide(const std::wstring& wide) { return safetree::NarrowFrom(wide, CP_ACP); }

}  // namespace

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
  // "." and ".." parts, and doubled separators (a location ending in "\" joined with one
  // more), which only the system's folding takes out: "\\?\" paths are taken as written.
  const bool dots = padded.find(L"\\.\\") != std::wstring::npos ||
                    padded.find(L"\\..\\") != std::wstring::npos ||
                    padded.find(L"\\\\", 1) != std::wstring::npos;
  if (!dots && wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
  if (!dots && wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
  return wide.empty() ? wide : safetree::LongPathOf(wide);
}

namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesW(LongPath(path).c_str()); }

// The launcher's paths are in the ANSI code page; the tree's names are UTF-8.
std::string Utf8FromAnsi(const std::string& ansi) {
  return safetree::NarrowFrom(WideFromAnsi(ansi));
}

std::string AnsiFromUtf8(const std::string& utf8) { return AnsiFromWide(safetree::WideFrom(utf8)); }

// Seconds since 1970 of a FILETIME (100 ns since 1601).
int64_t UnixSeconds(const FILETIME& ft) {
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

// The staging copy's writer: the unzip's destination, which refuses a reparse point where
// a directory goes and writes new files beside their names.
class Win32TreeWriter : public TreeWriter {
 public:
  explicit Win32TreeWriter(std::unique_ptr<safetree::Tree> out) : out_(std::move(out)) {}

  bool MakeDirs(const std::string& rel) override {
    std::string error;
    return rel.empty() || out_->MakeDirectory(Utf8FromAnsi(rel), &error);
  }

  bool CopyRegularFile(const std::string& from, const std::string& rel, const Expected* expected,
                       std::string* mismatch) override {
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
    std::unique_ptr<safetree::TreeFile> out = out_->NewFile(Utf8FromAnsi(rel), false, &error);
    if (!out) return false;
    HANDLE source = in.get();
    return CopyInto(
        [source](uint8_t* buffer, size_t size, size_t* done) {
          DWORD got = 0;
          if (!::ReadFile(source, buffer, static_cast<DWORD>(size), &got, nullptr)) return false;
          *done = got;
          return true;
        },
        out.get(), UnixSeconds(info.ftLastWriteTime), expected, mismatch);
  }

  // Making a link needs a privilege an installer cannot count on.
  FileSystem::LinkCopy CopyLink(const std::string&, const std::string&,
                                const std::string*) override {
    return FileSystem::LinkCopy::kNotCopied;
  }

  bool List(const std::string& rel, std::vector<DirEntry>* entries) override {
    std::vector<safetree::TreeEntry> listed;
    entries->clear();
    if (!out_->List(Utf8FromAnsi(rel), &listed)) return false;
    for (const safetree::TreeEntry& e : listed) entries->push_back(Entry(e));
    return true;
  }

  bool Find(const std::string& rel, DirEntry* found) override {
    safetree::TreeEntry e;
    if (!out_->Find(Utf8FromAnsi(rel), &e)) return false;
    *found = Entry(e);
    return true;
  }

  // Everything below `rel` goes through wide-character names from end to end: a name the
  // ANSI code page cannot hold is removed as well as any other.
  void Remove(const std::string& rel, std::vector<std::string>* left) override {
    std::vector<std::string> kept;
    out_->Remove(Utf8FromAnsi(rel), &kept);
    for (const std::string& path : kept) left->push_back(AnsiFromUtf8(path));
  }

  void MakeWritable(const std::string& rel) override { out_->MakeWritable(Utf8FromAnsi(rel)); }

  safetree::FileId RootId() override { return out_->RootId(); }
  bool ProgramsMayRun() override { return out_->ProgramsMayRun(); }

  bool RemoveRoot(const std::string& named, std::string* why) override {
    return out_->RemoveRoot(Utf8FromAnsi(named), why);
  }

 private:
  static DirEntry Entry(const safetree::TreeEntry& e) {
    using Kind = safetree::TreeEntry::Kind;
    return {AnsiFromUtf8(e.name), e.kind == Kind::kDirectory, e.kind == Kind::kLink,
            e.kind == Kind::kSpecial, e.id};
  }
  std::unique_ptr<safetree::Tree> out_;
};

}  // namespace

std::unique_ptr<TreeWriter> Win32FileSystem::OpenTreeWriter(const std::string& root, bool make) {
  std::string error;
  std::unique_ptr<safetree::Tree> out = safetree::OpenTree(Utf8FromAnsi(root), make, &error);
  if (!out) return nullptr;
  return std::make_unique<Win32TreeWriter>(std::move(out));
}

std::unique_ptr<TreeWriter> Win32FileSystem::HoldTree(const std::string& root, std::string* why) {
  std::unique_ptr<safetree::Tree> out = safetree::HoldTree(Utf8FromAnsi(root), why);
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
  // Through the long-path form: a log in a deep TEMP is kept as well as any. To another
  // volume (a -rscratchPath elsewhere than TEMP) a file is copied, then removed; a name
  // taken is never replaced. A scanner holding the file is waited for.
  const std::wstring source = LongPath(from), target = LongPath(to);
  return safetree::RetryWhileHeld(
      [&] { return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED) != 0; });
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

// A scanner that looks at what the run just wrote holds it for a moment: removals wait
// for it (see safetree::RetryWhileHeld).
bool Win32FileSystem::RemoveDir(const std::string& path) {
  const std::wstring long_path = LongPath(path);
  return safetree::RetryWhileHeld([&] { return RemoveDirectoryW(long_path.c_str()) != 0; }, true);
}

bool Win32FileSystem::RemoveFile(const std::string& path) {
  const std::wstring long_path = LongPath(path);
  // A read-only file is refused at once: no scanner's hold, nothing to wait for.
  DWORD attributes = GetFileAttributesW(long_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return DeleteFileW(long_path.c_str()) != 0;
  }
  return safetree::RetryWhileHeld([&] { return DeleteFileW(long_path.c_str()) != 0; });
}

namespace {

// The user running the launcher, SYSTEM and the Administrators: who may own and write the
// scratch directory.
bool TrustedSid(PSID sid, PSID user) {
  return EqualSid(sid, user) || IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

std::string SidName(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD name_size = 256, domain_size = 256;
  SID_NAME_USE use;
  if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    return AnsiFromWide(domain_size > 0 ? std::wstring(domain) + L"\\" + name : name);
  }
  char* text = nullptr;
  std::string shown = ConvertSidToStringSidA(sid, &text) ? text : "an unknown account";
  if (text != nullptr) LocalFree(text);
  return shown;
}

// Why the owner or the access list let someone else than the trusted accounts change the
// directory: empty when nothing does.
std::string AccessRisk(PSID owner, PACL dacl, PSID user) {
  if (owner == nullptr || !TrustedSid(owner, user)) {
    return "belongs to " + (owner == nullptr ? std::string("nobody") : SidName(owner)) +
           ", not to the user running the installer";
  }
  if (dacl == nullptr) return "has no access list: everyone may change it";
  constexpr ACCESS_MASK kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                   FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                                   WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
        ace->AceType != ACCESS_ALLOWED_ACE_TYPE || (ace->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &allowed->SidStart;
    if ((allowed->Mask & kChanges) != 0 && !TrustedSid(sid, user)) {
      return "lets " + SidName(sid) + " change it";
    }
  }
  return "";
}

}  // namespace

bool Win32FileSystem::CheckPrivateDirectory(const std::string& path, std::string* why) {
  ScopedHandle dir(CreateFileW(LongPath(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  std::string reason;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  HANDLE token = nullptr;
  std::vector<BYTE> user(SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER) + 64);
  DWORD size = 0;
  if (!dir.valid() || !GetFileInformationByHandle(dir.get(), &info)) {
    reason = "cannot be examined (system error " + std::to_string(GetLastError()) + ")";
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    reason = "is a link or junction, which is not followed";
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    reason = kNotADirectory;
  } else if (GetSecurityInfo(dir.get(), SE_FILE_OBJECT,
                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                             nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS ||
             !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    reason = "has an access list that cannot be read";
  } else {
    ScopedHandle guard(token);
    if (!GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()),
                             &size)) {
      reason = "cannot be compared with the user running the installer";
    } else {
      reason = AccessRisk(owner, dacl, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
    }
  }
  if (descriptor != nullptr) LocalFree(descriptor);
  if (reason.empty()) return true;
  // A file where a directory was asked for is no matter of other users.
  *why =
      path + " " + reason +
      (reason == kNotADirectory ? ": the installer stages only into a directory."
                                : ": another user could change what the installer runs from it.");
  return false;
}

// The directory as the name leads to it: owned by the user, SYSTEM or the Administrators.
// Its access list may let others add entries (C:\TEMP): what the run makes there gets an
// access list of its own.
bool Win32FileSystem::CheckSharedDirectory(const std::string& path, std::string* why) {
  ScopedHandle dir(CreateFileW(LongPath(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::vector<BYTE> user(SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER) + 64);
  HANDLE token = nullptr;
  DWORD size = 0;
  std::string reason;
  if (!dir.valid() || !GetFileInformationByHandle(dir.get(), &info)) {
    reason = "cannot be examined (system error " + std::to_string(GetLastError()) + ")";
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    reason = kNotADirectory;
  } else if (GetSecurityInfo(dir.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                             nullptr, nullptr, &descriptor) != ERROR_SUCCESS ||
             !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    reason = "has an owner that cannot be read";
  } else {
    ScopedHandle guard(token);
    if (!GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()),
                             &size) ||
        !TrustedSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid)) {
      reason = "belongs to " + SidName(owner) + ", not to the user running the installer";
    }
  }
  if (descriptor != nullptr) LocalFree(descriptor);
  if (reason.empty()) return true;
  *why = path + " " + reason;
  return false;
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
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return safetree::RetryWhileHeld(
      [&] {
        return (directory ? RemoveDirectoryW(long_path.c_str()) : DeleteFileW(long_path.c_str())) !=
               0;
      },
      directory);
}

FileSystem::LinkCopy Win32FileSystem::CopyLink(const std::string&, const std::string&) {
  return LinkCopy::kNotCopied;
}

bool Win32FileSystem::CopyFileOverwriting(const std::string& from, const std::string& to) {
  if (!safetree::RetryWhileHeld([&] { return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0; })) {
    return false;
  }
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
    entries->push_back({AnsiFromWide(data.cFileName), directory && !link, link, false, {}});
  } while (FindNextFileW(find, &data));
  // The listing ends with ERROR_NO_MORE_FILES; any other error cut it short, and a part of
  // a directory must never pass for all of it.
  const DWORD error = GetLastError();
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) {
    entries->clear();
    SetLastError(error);
    return false;
  }
  return true;
}

bool Win32FileSystem::HashFile(const std::string& path, uint64_t* size,
                               std::array<uint8_t, 32>* sha256) {
  // Never through a reparse point, and only a file on a disk: a pipe or a device put in a
  // listed file's place would never end or never answer.
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  manifest::Sha256 hash;
  std::vector<uint8_t> buffer(1 << 20);
  *size = 0;
  for (;;) {
    DWORD done = 0;
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &done, nullptr))
      return false;
    if (done == 0) break;
    hash.Update(buffer.data(), done);
    *size += done;
  }
  *sha256 = hash.Final();
  return true;
}

bool Win32FileSystem::ReadLink(const std::string& path, std::string* target) {
  std::error_code ec;
  const std::filesystem::path p = manifest::PathOfUtf8(path);
  if (!std::filesystem::is_symlink(std::filesystem::symlink_status(p, ec))) return false;
  std::filesystem::path read = std::filesystem::read_symlink(p, ec);
  if (ec) return false;
  *target = manifest::Utf8Of(read);
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

namespace {

safetree::FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

}  // namespace

std::unique_ptr<AppendFile> Win32FileSystem::OpenLogFile(const std::string& path, bool create,
                                                         safetree::FileId* id) {
  // A new log only where nothing stands at its name (a link neither: CREATE_NEW never
  // follows one), and a log opened again only when what the name leads to is the file the
  // run made: a link put at its name leads to that file or is refused, so the name need
  // not be opened as a link of its own.
  ScopedHandle file(
      CreateFileW(LongPath(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  create ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return nullptr;
  }
  if (create) *id = IdOf(info);
  if (IdOf(info) != *id) return nullptr;
  // Text mode, as the logs have always been written: "\n" becomes CR LF.
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_APPEND | _O_TEXT);
  if (fd < 0) return nullptr;
  file.release();
  FILE* stream = _fdopen(fd, "a");
  if (stream == nullptr) {
    _close(fd);
    return nullptr;
  }
  return WrapStdioAppendFile(stream);
}

bool Win32FileSystem::Identify(const std::string& path, safetree::FileId* id) {
  ScopedHandle h(CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.valid() || !GetFileInformationByHandle(h.get(), &info)) return false;
  *id = IdOf(info);
  return true;
}

bool Win32FileSystem::ResolvePath(const std::string& path, std::string* resolved) {
  ScopedHandle h(CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return false;
  DWORD n = GetFinalPathNameByHandleW(h.get(), nullptr, 0, FILE_NAME_NORMALIZED);
  std::wstring final(n, L'\0');
  n = n == 0 ? 0 : GetFinalPathNameByHandleW(h.get(), final.data(), n, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= final.size()) return false;
  final.resize(n);
  // The plain form, as the launcher's paths are written; long paths keep working through
  // the long-path calls that every file call here makes.
  if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    final.replace(0, 8, L"\\\\");
  } else if (final.rfind(L"\\\\?\\", 0) == 0) {
    final.erase(0, 4);
  }
  *resolved = AnsiFromWide(final);
  return true;
}

bool Win32FileSystem::FullPath(const std::string& path, std::string* full) {
  char* result = _fullpath(nullptr, path.c_str(), 0);
  if (result == nullptr) return false;
  *full = result;
  std::free(result);
  return true;
}

bool Win32FileSystem::SetWorkingDirectory(const std::string& path) {
  if (_chdir(path.c_str()) == 0) return true;
  // A working directory is at most MAX_PATH characters long: a deeper one is entered by
  // its short (8.3) name, where the volume keeps short names.
  const std::wstring full = LongPath(path);
  std::wstring shortened(full.size() + 1, L'\0');
  DWORD n = GetShortPathNameW(full.c_str(), shortened.data(), static_cast<DWORD>(shortened.size()));
  if (n == 0 || n >= shortened.size()) return false;
  shortened.resize(n);
  if (shortened.rfind(L"\\\\?\\", 0) == 0) shortened.erase(0, 4);
  return shortened.size() < MAX_PATH && SetCurrentDirectoryW(shortened.c_str()) != 0;
}

bool Win32FileSystem::FreeSpaceKb(const std::string& path, uint64_t* kb) {
  ULARGE_INTEGER available;
  // A path beyond 260 characters is asked in its long-path form.
  if (!GetDiskFreeSpaceExA(path.c_str(), &available, nullptr, nullptr) &&
      !GetDiskFreeSpaceExW((LongPath(path) + L"\\").c_str(), &available, nullptr, nullptr)) {
    return false;
  }
  *kb = available.QuadPart / 1024;
  return true;
}

}  // namespace zorvex::platform
