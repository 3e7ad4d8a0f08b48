// The Windows side of the safe tree. Everything works from handles: each entry is made or
// opened relative to its directory's handle (NtCreateFile with a root directory, so that
// long paths work and no name is taken for a device), as the reparse point it may be
// (never followed); new files are named, attributes set and entries deleted through their
// own handles. A directory swapped for a junction meanwhile leads nowhere.
#include "safetree/held_win32.h"
#include "safetree/win32_text.h"
// After windows.h, which they build on.
#include <sddl.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <set>
#include <vector>

#include "safetree/tree.h"

namespace zorvex::safetree {

namespace {

std::string ErrorText(DWORD code) { return "system error " + std::to_string(code); }

// Seconds since 1970 as a FILETIME (100 ns since 1601).
FILETIME FileTime(int64_t seconds) {
  uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

// A temporary name of bounded length beside the final one: the final name may be as long
// as a name can be.
std::wstring TemporaryName() {
  static std::atomic<unsigned long> counter{0};
  return L".unzip-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) +
         L".tmp";
}

// The access list of everything the tree makes: the user running, SYSTEM and the
// Administrators, protected, so that nothing the directory passes on to new entries (an
// entry for Everyone in a folder the user named) reaches them. Made once; null when the
// user's identity cannot be read, and then nothing is made.
PSECURITY_DESCRIPTOR OwnersAlone() {
  static PSECURITY_DESCRIPTOR descriptor = [] {
    PSECURITY_DESCRIPTOR made = nullptr;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return made;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    wchar_t* sid = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
      const std::wstring sddl =
          std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
      if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &made, nullptr)) {
        made = nullptr;
      }
      LocalFree(sid);
    }
    CloseHandle(token);
    return made;
  }();
  return descriptor;
}

UNICODE_STRING Counted(const std::wstring& name) {
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = static_cast<USHORT>(std::min<size_t>(name.size() * sizeof(wchar_t), 0xFFFE));
  text.MaximumLength = text.Length;
  return text;
}

// A kernel handle that closes itself.
class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
  Handle& operator=(Handle&& other) noexcept {
    std::swap(h_, other.h_);
    return *this;
  }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// Opens or makes `name` relative to the open directory `parent`, as the file system
// resolves the name (letter case, short names), never following a reparse point: a
// junction or link is opened as itself. What it makes gets the tree's own access list. An
// invalid handle with the last error set when it cannot; *collision when `disposition`
// asked for a new entry and one stands there.
Handle CreateRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, bool* collision = nullptr) {
  UNICODE_STRING text = Counted(name);
  OBJECT_ATTRIBUTES attributes;
  PSECURITY_DESCRIPTOR made = nullptr;
  if (disposition != FILE_OPEN) {
    made = OwnersAlone();
    if (made == nullptr) {
      SetLastError(ERROR_ACCESS_DENIED);
      return Handle();
    }
  }
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, made);
  IO_STATUS_BLOCK io;
  HANDLE h = nullptr;
  NTSTATUS status = NtCreateFile(
      &h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
      disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (collision != nullptr) *collision = status == static_cast<NTSTATUS>(0xC0000035L);
  if (!NT_SUCCESS(status)) {
    SetLastError(RtlNtStatusToDosError(status));
    return Handle();
  }
  return Handle(h);
}

Handle OpenRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access) {
  return CreateRelative(parent, name, access,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                        FILE_OPEN_FOR_BACKUP_INTENT);
}

// Gives the open entry `h` the name `name` in the open directory `dir`, replacing an entry
// of that name when `replace`; the name is never resolved through a link. False with the
// last error set; *exists when the name was taken and not to be replaced.
bool RenameRelative(HANDLE h, HANDLE dir, const std::wstring& name, bool replace, bool* exists) {
  std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFORMATION) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = dir;
  info->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  std::copy(name.begin(), name.end(), info->FileName);
  NTSTATUS status = 0;
  // A file replaced, or one in the directory, may be held by a scanner for a moment.
  return RetryWhileHeld([&] {
    IO_STATUS_BLOCK io;
    status = NtSetInformationFile(h, &io, info, static_cast<ULONG>(buffer.size()),
                                  FileRenameInformation);
    *exists = !replace && status == static_cast<NTSTATUS>(0xC0000035L);
    if (NT_SUCCESS(status)) return true;
    SetLastError(RtlNtStatusToDosError(status));
    return false;
  });
}

FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

bool IsDirectory(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

TreeEntry::Kind KindOf(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return TreeEntry::Kind::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? TreeEntry::Kind::kDirectory
                                                      : TreeEntry::Kind::kFile;
}

// The names in the directory open as `dir`, read through its handle.
std::vector<std::wstring> NamesIn(HANDLE dir) {
  std::vector<std::wstring> names;
  std::vector<uint64_t> buffer(8192);
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(dir, kind, buffer.data(),
                                      static_cast<DWORD>(buffer.size() * sizeof(uint64_t)))) {
    kind = FileIdBothDirectoryInfo;
    auto* at = reinterpret_cast<const uint8_t*>(buffer.data());
    for (;;) {
      auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.push_back(name);
      if (info->NextEntryOffset == 0) break;
      at += info->NextEntryOffset;
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Clears the read-only attribute through the entry's own handle.
bool ClearReadOnly(HANDLE h, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Removes the entry `name` of `dir` and everything below it, through handles: a directory
// is emptied through its own, a reparse point goes as itself. What stays is added to *left.
void RemoveEntry(HANDLE dir, const std::wstring& name, const std::string& shown,
                 std::vector<std::string>* left) {
  RemovalPause(shown);
  Handle h;
  RetryWhileHeld([&] {
    h = OpenRelative(dir, name,
                     DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY);
    return h.valid();
  });
  if (!h.valid()) {
    DWORD e = GetLastError();
    if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) left->push_back(shown);
    return;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h.get(), &info)) {
    left->push_back(shown);
    return;
  }
  const size_t left_before = left->size();
  if (IsDirectory(info.dwFileAttributes)) {
    for (const std::wstring& child : NamesIn(h.get())) {
      RemoveEntry(h.get(), child, shown + "\\" + NarrowFrom(child), left);
    }
  }
  // A directory whose entries all went may still hold the names of files deleted while a
  // scanner had them open: waited for. One that keeps an entry is not.
  const bool emptied = IsDirectory(info.dwFileAttributes) && left->size() == left_before;
  FILE_DISPOSITION_INFO gone{TRUE};
  if (!ClearReadOnly(h.get(), info.dwFileAttributes) ||
      !RetryWhileHeld(
          [&] {
            return SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone) !=
                   0;
          },
          emptied)) {
    left->push_back(shown);
  }
}

void MakeEntryWritable(HANDLE dir, const std::wstring& name) {
  Handle h =
      OpenRelative(dir, name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY);
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.valid() || !GetFileInformationByHandle(h.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return;
  }
  ClearReadOnly(h.get(), info.dwFileAttributes);
  if (IsDirectory(info.dwFileAttributes)) {
    for (const std::wstring& child : NamesIn(h.get())) MakeEntryWritable(h.get(), child);
  }
}

// Block cloning (ReFS: a Dev Drive, Windows Server): the file system shares whole clusters
// of one file with another on the same volume. Neither name is in the headers the build
// has; the values are the system's.
constexpr DWORD kSupportsBlockRefcounting = 0x08000000;  // FILE_SUPPORTS_BLOCK_REFCOUNTING
constexpr DWORD kDuplicateExtentsToFile =                // FSCTL_DUPLICATE_EXTENTS_TO_FILE
    CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 209, METHOD_BUFFERED, FILE_WRITE_DATA);
struct DuplicateExtents {
  HANDLE source;
  LARGE_INTEGER source_offset;
  LARGE_INTEGER target_offset;
  LARGE_INTEGER count;
};
// Regions shared begin and end on a cluster boundary: 4 KiB, the smaller of ReFS's two
// cluster sizes and the alignment of a medium's stored files. On 64 KiB clusters the
// system refuses, and the bytes are written.
constexpr uint64_t kCloneUnit = 4096;
// A clone covers less than 4 GiB.
constexpr uint64_t kMaxClone = uint64_t{1} << 30;

bool VolumeSharesBlocks(HANDLE h) {
  DWORD flags = 0;
  return GetVolumeInformationByHandleW(h, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & kSupportsBlockRefcounting) != 0;
}

class Win32File : public TreeFile {
 public:
  Win32File(std::shared_ptr<Handle> dir, Handle h, std::wstring final, bool shares_blocks)
      : dir_(std::move(dir)),
        h_(std::move(h)),
        final_(std::move(final)),
        shares_blocks_(shares_blocks) {}
  ~Win32File() override {
    if (!committed_ && h_.valid()) {
      FILE_DISPOSITION_INFO gone{TRUE};
      SetFileInformationByHandle(h_.get(), FileDispositionInfo, &gone, sizeof gone);
    }
  }
  bool Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      DWORD done = 0;
      bool wrote = WriteFile(h_.get(), data, chunk, &done, nullptr) != 0;
      if (!wrote || done == 0) {
        DWORD e = wrote ? ERROR_DISK_FULL : GetLastError();  // nothing written: no room
        write_error_ = e;
        disk_full_ = e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL;
        return false;
      }
      data += done;
      size -= done;
      written_ += done;
    }
    return true;
  }
  // Shares the whole clusters of the region with the source where the volume can (the
  // file's end is moved first: a clone reaches no further than the file); the rest, and
  // everything on another volume or file system, is the caller's to write.
  CopyResult CopyFrom(SystemFile file, uint64_t offset, uint64_t size, uint64_t* copied) override {
    const uint64_t whole = std::min(size - size % kCloneUnit, kMaxClone);
    if (!shares_blocks_ || whole == 0 || offset % kCloneUnit != 0 || written_ % kCloneUnit != 0) {
      return CopyResult::kUnsupported;
    }
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(written_ + whole);
    DuplicateExtents region;
    region.source = reinterpret_cast<HANDLE>(file);
    region.source_offset.QuadPart = static_cast<LONGLONG>(offset);
    region.target_offset.QuadPart = static_cast<LONGLONG>(written_);
    region.count.QuadPart = static_cast<LONGLONG>(whole);
    DWORD returned = 0;
    LARGE_INTEGER next;
    next.QuadPart = end.EndOfFile.QuadPart;
    if (!SetFileInformationByHandle(h_.get(), FileEndOfFileInfo, &end, sizeof end)) {
      return CopyResult::kUnsupported;
    }
    if (!DeviceIoControl(h_.get(), kDuplicateExtentsToFile, &region, sizeof region, nullptr, 0,
                         &returned, nullptr) ||
        !SetFilePointerEx(h_.get(), next, nullptr, FILE_BEGIN)) {
      // Not this pair of files (another volume, 64 KiB clusters, integrity streams on one
      // of them): the file is as it was, and the bytes are written.
      end.EndOfFile.QuadPart = static_cast<LONGLONG>(written_);
      LARGE_INTEGER back;
      back.QuadPart = end.EndOfFile.QuadPart;
      if (!SetFileInformationByHandle(h_.get(), FileEndOfFileInfo, &end, sizeof end) ||
          !SetFilePointerEx(h_.get(), back, nullptr, FILE_BEGIN)) {
        write_error_ = GetLastError();
        return CopyResult::kFailed;
      }
      shares_blocks_ = false;
      return CopyResult::kUnsupported;
    }
    written_ += whole;
    *copied = whole;
    return CopyResult::kDone;
  }
  // Named through its own handle, in the directory it was made in: a directory swapped
  // meanwhile changes nothing.
  bool Commit(int64_t mtime, bool replace, bool* exists, std::string* error) override {
    FILETIME ft = FileTime(mtime);
    SetFileTime(h_.get(), nullptr, &ft, &ft);
    *exists = false;
    if (RenameRelative(h_.get(), dir_->get(), final_, replace, exists)) {
      committed_ = true;
      h_ = Handle();
      return true;
    }
    if (!*exists) *error = ErrorText(GetLastError());
    return false;
  }
  bool DiskFull() const override { return disk_full_; }
  std::string WriteError() const override { return ErrorText(write_error_); }

 private:
  std::shared_ptr<Handle> dir_;
  Handle h_;
  std::wstring final_;
  bool shares_blocks_;
  uint64_t written_ = 0;
  bool committed_ = false;
  bool disk_full_ = false;
  DWORD write_error_ = 0;
};

class Win32Tree : public Tree {
 public:
  Win32Tree(std::string shown, std::wstring root, Handle handle, bool held = false)
      : shown_(std::move(shown)),
        root_(std::move(root)),
        handle_(std::move(handle)),
        held_(held),
        shares_blocks_(VolumeSharesBlocks(handle_.get())) {}

  bool MakeOneDirectory(const std::string& rel, std::string* error) override {
    Handle parent = OpenDirectory(ParentOf(rel));
    bool collision = false;
    if (parent.valid() && CreateRelative(parent.get(), WideFrom(LeafOf(rel)), FILE_LIST_DIRECTORY,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         FILE_CREATE, FILE_DIRECTORY_FILE, &collision)
                              .valid()) {
      return true;
    }
    if (!collision) {
      *error = "cannot create " + DisplayPath(rel) + ": " + ErrorText(GetLastError());
      return false;
    }
    TreeEntry there;
    if (!Describe(parent.get(), WideFrom(LeafOf(rel)), &there) ||
        there.kind != TreeEntry::Kind::kDirectory) {
      *error = DisplayPath(rel) + " is not a directory (a file or a link stands there)";
      return false;
    }
    return true;
  }

  std::unique_ptr<TreeFile> NewFile(const std::string& rel, bool, std::string* error) override {
    auto parent = std::make_shared<Handle>(OpenDirectory(ParentOf(rel)));
    Handle h;
    if (parent->valid()) {
      h = CreateRelative(parent->get(), TemporaryName(), GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                         FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY);
    }
    if (!h.valid()) {
      *error = "cannot create " + DisplayPath(rel) + ": " + ErrorText(GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32File>(parent, std::move(h), WideFrom(LeafOf(rel)), shares_blocks_);
  }

  // Making a link needs a privilege an installer cannot count on: the link becomes a file
  // holding its target, as unzip programs do on systems without links.
  bool MakeLink(const std::string& rel, const std::string& target, bool replace, bool* exists,
                std::string* error) override {
    std::unique_ptr<TreeFile> file = NewFile(rel, false, error);
    if (!file) return false;
    if (!file->Write(reinterpret_cast<const uint8_t*>(target.data()), target.size())) {
      *error = "cannot write " + DisplayPath(rel);
      return false;
    }
    return file->Commit(std::time(nullptr), replace, exists, error);
  }

  void SetDirectoryTime(const std::string& rel, int64_t mtime) override {
    Handle parent = OpenDirectory(ParentOf(rel));
    if (!parent.valid()) return;
    Handle h = OpenRelative(parent.get(), WideFrom(LeafOf(rel)), FILE_WRITE_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.valid() || !GetFileInformationByHandle(h.get(), &info) ||
        !IsDirectory(info.dwFileAttributes)) {
      return;
    }
    FILETIME ft = FileTime(mtime);
    SetFileTime(h.get(), nullptr, &ft, &ft);
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

  bool List(const std::string& rel, std::vector<TreeEntry>* entries) override {
    entries->clear();
    Handle dir = OpenDirectory(rel);
    if (!dir.valid()) return false;
    for (const std::wstring& name : NamesIn(dir.get())) {
      TreeEntry entry;
      if (Describe(dir.get(), name, &entry)) entries->push_back(entry);
    }
    return true;
  }

  bool Find(const std::string& rel, TreeEntry* found) override {
    size_t cut = rel.find_last_of('/');
    Handle dir = OpenDirectory(cut == std::string::npos ? "" : rel.substr(0, cut));
    return dir.valid() && Describe(dir.get(), WideFrom(rel.substr(cut + 1)), found);
  }

  void Remove(const std::string& rel, std::vector<std::string>* left) override {
    if (rel.empty()) return;
    size_t cut = rel.find_last_of('/');
    Handle dir = OpenDirectory(cut == std::string::npos ? "" : rel.substr(0, cut));
    if (!dir.valid()) {
      left->push_back(DisplayPath(rel));
      return;
    }
    RemoveEntry(dir.get(), WideFrom(rel.substr(cut + 1)), DisplayPath(rel), left);
  }

  void MakeWritable(const std::string& rel) override {
    size_t cut = rel.find_last_of('/');
    Handle dir = OpenDirectory(cut == std::string::npos ? "" : rel.substr(0, cut));
    if (!rel.empty() && dir.valid()) MakeEntryWritable(dir.get(), WideFrom(rel.substr(cut + 1)));
  }

  FileId RootId() override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle_.valid() || !GetFileInformationByHandle(handle_.get(), &info)) return {};
    return IdOf(info);
  }

  // The held handle keeps the root from being removed, so it goes first; then the name is
  // opened as itself (never through a junction), and the directory it leads to is removed
  // only when it is still the one that was held.
  bool RemoveRoot(const std::string&, std::string* why) override {
    const FileId id = RootId();
    handle_ = Handle();
    Handle h;
    RetryWhileHeld([&] {
      h = OpenRootAsItself(DELETE | FILE_READ_ATTRIBUTES);
      return h.valid();
    });
    const DWORD refused = h.valid() ? ERROR_SUCCESS : GetLastError();
    // Another process working in it (a service Java started inherits its directory) keeps
    // it from being opened for deletion: that is not the directory being replaced.
    if (!h.valid() && MayBeHeld(refused, true) &&
        IsTheRoot(OpenRootAsItself(FILE_READ_ATTRIBUTES), id)) {
      *why = kInUse;
      return false;
    }
    if (!IsTheRoot(h, id)) {
      *why =
          "it was moved or replaced while the installer ran, and what stands at its name now "
          "is not the installer's";
      return false;
    }
    FILE_DISPOSITION_INFO gone{TRUE};
    if (!RetryWhileHeld(
            [&] {
              return SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone) !=
                     0;
            },
            true)) {
      const DWORD error = GetLastError();
      *why = MayBeHeld(error, true) ? kInUse : ErrorText(error);
      return false;
    }
    return true;
  }

 private:
  static std::string ParentOf(const std::string& rel) {
    size_t cut = rel.find_last_of('/');
    return cut == std::string::npos ? "" : rel.substr(0, cut);
  }
  static std::string LeafOf(const std::string& rel) {
    return rel.substr(rel.find_last_of('/') + 1);
  }

  static constexpr char kInUse[] =
      "it is in use by another program (one that Java started, say), and is left for you to "
      "remove when it ends";

  // The root's name opened as itself, never through a junction at it.
  Handle OpenRootAsItself(ACCESS_MASK access) const {
    return Handle(CreateFileW(
        root_.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }

  // Whether the open entry is the directory the tree held.
  static bool IsTheRoot(const Handle& h, const FileId& id) {
    BY_HANDLE_FILE_INFORMATION info;
    return h.valid() && GetFileInformationByHandle(h.get(), &info) &&
           IsDirectory(info.dwFileAttributes) && IdOf(info) == id;
  }

  // The directory `rel`, opened part by part from the root's handle; a part that is a
  // reparse point, or no directory, ends it.
  Handle OpenDirectory(const std::string& rel) {
    // The root opened afresh through its handle (an empty name relative to it), not the
    // handle duplicated: a duplicate shares the listing's state, and a listing of a root
    // held for a whole run would show what it held when it was first listed.
    Handle dir = OpenRelative(handle_.get(), L"", FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES);
    // Windows keeps a held root in place. Where a system lets it move anyway and resolves
    // names below a handle by the path it was opened with (Wine does), names would lead
    // elsewhere: then nothing below the root is reached, and the caller says so.
    if (held_ && dir.valid()) {
      Handle named(CreateFileW(root_.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      BY_HANDLE_FILE_INFORMATION now, held;
      if (!named.valid() || !GetFileInformationByHandle(named.get(), &now) ||
          !GetFileInformationByHandle(handle_.get(), &held) || IdOf(now) != IdOf(held)) {
        return Handle();
      }
    }
    size_t pos = 0;
    while (dir.valid() && pos < rel.size()) {
      size_t end = std::min(rel.find('/', pos), rel.size());
      Handle next = OpenRelative(dir.get(), WideFrom(rel.substr(pos, end - pos)),
                                 FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES);
      BY_HANDLE_FILE_INFORMATION info;
      if (next.valid() &&
          (!GetFileInformationByHandle(next.get(), &info) || !IsDirectory(info.dwFileAttributes))) {
        next = Handle();
      }
      dir = std::move(next);
      pos = end + 1;
    }
    return dir;
  }

  // The entry `name` of `dir` as the file system holds it: kind, identity and its own name.
  static bool Describe(HANDLE dir, const std::wstring& name, TreeEntry* entry) {
    Handle h = OpenRelative(dir, name, FILE_READ_ATTRIBUTES);
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.valid() || !GetFileInformationByHandle(h.get(), &info)) return false;
    entry->kind = KindOf(info.dwFileAttributes);
    entry->id = IdOf(info);
    entry->name = NarrowFrom(name);
    std::vector<uint64_t> buffer(4096);
    if (GetFileInformationByHandleEx(h.get(), FileNameInfo, buffer.data(),
                                     static_cast<DWORD>(buffer.size() * sizeof(uint64_t)))) {
      auto* kept = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
      std::wstring path(kept->FileName, kept->FileNameLength / sizeof(wchar_t));
      entry->name = NarrowFrom(path.substr(path.find_last_of(L'\\') + 1));
    }
    return true;
  }

  std::string shown_;
  std::wstring root_;
  Handle handle_;
  bool held_;
  const bool shares_blocks_;  // asked once: the unpacking threads make files at once
};

}  // namespace

std::unique_ptr<Tree> OpenTree(const std::string& dir, bool make, std::string* error) {
  std::string shown = dir.empty() ? "." : dir;
  while (shown.size() > 3 && (shown.back() == '\\' || shown.back() == '/')) shown.pop_back();
  std::wstring root = LongPathOf(WideFrom(shown));
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
  for (size_t pos = start; make && pos != std::wstring::npos; pos = root.find(L'\\', pos + 1)) {
    CreateDirectoryW(root.substr(0, pos).c_str(), nullptr);
  }
  if (make) CreateDirectoryW(root.c_str(), nullptr);
  Handle handle(CreateFileW(root.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = (make ? "cannot create " : "cannot open ") + shown + ": " + ErrorText(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32Tree>(shown, root, std::move(handle));
}

// Without FILE_SHARE_DELETE nobody can open the root to rename or remove it while it is
// held; without DELETE access of its own the handle lets the root still be the working
// directory of the launcher and of Java (their handles do not share deletion).
std::unique_ptr<Tree> HoldTree(const std::string& dir, std::string* error) {
  std::string shown = dir.empty() ? "." : dir;
  while (shown.size() > 3 && (shown.back() == '\\' || shown.back() == '/')) shown.pop_back();
  std::wstring root = LongPathOf(WideFrom(shown));
  while (root.size() > 7 && root.back() == L'\\') root.pop_back();
  Handle handle(CreateFileW(root.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) {
    *error = "cannot open " + shown + ": " + ErrorText(GetLastError());
    return nullptr;
  }
  if (!IsDirectory(info.dwFileAttributes)) {
    *error = shown + " is not a directory, or is a link or junction";
    return nullptr;
  }
  return std::make_unique<Win32Tree>(shown, root, std::move(handle), true);
}

bool SetMadeMode(int, uint32_t, bool) { return true; }

// Windows keeps a name's letter case and compares names folded to one case by its own
// table; the trailing dots and blanks of each part it drops.
std::string NameKey(const std::string& utf8) {
  std::string key;
  size_t pos = 0;
  while (pos <= utf8.size()) {
    size_t end = std::min(utf8.find('/', pos), utf8.size());
    std::string part = utf8.substr(pos, end - pos);
    while (!part.empty() && (part.back() == '.' || part.back() == ' ') && part != "." &&
           part != "..") {
      part.pop_back();
    }
    key += (pos == 0 ? "" : "/") + part;
    pos = end + 1;
  }
  std::wstring wide = WideFrom(key);
  if (wide.empty()) return key;
  std::wstring upper(wide.size(), L'\0');
  int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(),
                        static_cast<int>(wide.size()), upper.data(), static_cast<int>(upper.size()),
                        nullptr, nullptr, 0);
  if (n <= 0) return key;
  upper.resize(static_cast<size_t>(n));
  return NarrowFrom(upper);
}

}  // namespace zorvex::safetree
