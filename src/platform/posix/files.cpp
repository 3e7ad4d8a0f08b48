#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "manifest/manifest.h"
#include "platform/posix/posix_platform.h"
#include "platform/stdio_append_file.h"
#include "safetree/tree.h"

namespace zorvex::platform {

namespace {

constexpr char kNotADirectory[] = "is not a directory";

int64_t MtimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Reads the file to its end; a file that grows past the bound while read counts as too
// large.
FileSystem::ReadResult ReadAll(int fd, const struct stat& st, std::string* bytes) {
  std::string data;
  data.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileSystem::ReadResult::kCannotOpen;
    }
    data.append(buffer, static_cast<size_t>(n));
    if (data.size() > kMaxReadBytes) return FileSystem::ReadResult::kTooLarge;
  }
  *bytes = std::move(data);
  return FileSystem::ReadResult::kOk;
}

// Folds "." and ".." of an absolute path lexically, as the Windows runtime does.
std::string FoldDots(const std::string& path) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  if (out.empty()) out = "/";
  // A trailing separator of the input stays, as _fullpath keeps it.
  if (path.size() > 1 && path.back() == '/' && out != "/") out += "/";
  return out;
}

// The staging copy's writer: the unzip's destination, which resolves every path below
// its root without following a link.
class PosixTreeWriter : public TreeWriter {
 public:
  explicit PosixTreeWriter(std::unique_ptr<safetree::Tree> out) : out_(std::move(out)) {}

  bool MakeDirs(const std::string& rel) override {
    std::string error;
    return rel.empty() || out_->MakeDirectory(rel, &error);
  }

  bool CopyRegularFile(const std::string& from, const std::string& rel, const Expected* expected,
                       std::string* mismatch) override {
    // Not blocking, and only a regular file: a pipe would wait for a writer for ever.
    int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    bool ok = ::fstat(in, &st) == 0 && S_ISREG(st.st_mode) && MakeDirs(ParentOf(rel));
    std::string error;
    std::unique_ptr<safetree::TreeFile> out;
    if (ok) out = out_->NewFile(rel, (st.st_mode & S_IXUSR) != 0, &error);
    // The system copies first: where the file system shares blocks (XFS, Btrfs) the copy
    // is a clone that costs no space, and a verified copy is then checked from the clone,
    // which no one else can change. Where it cannot copy between the two, the bytes pass
    // through here and are checked on the way.
    uint64_t copied = 0;
    const safetree::CopyResult system_copy =
        ok && out != nullptr ? out->CopyFrom(in, 0, static_cast<uint64_t>(st.st_size), &copied)
                             : safetree::CopyResult::kFailed;
    if (system_copy == safetree::CopyResult::kDone) {
      ok = CheckAndCommit(out.get(), st.st_mtime, expected, mismatch);
    } else if (system_copy != safetree::CopyResult::kUnsupported) {
      ok = false;
    } else {
      ok = CopyInto(
          [in](uint8_t* buffer, size_t size, size_t* done) {
            ssize_t n;
            while ((n = ::read(in, buffer, size)) < 0 && errno == EINTR) {
            }
            *done = n > 0 ? static_cast<size_t>(n) : 0;
            return n >= 0;
          },
          out.get(), st.st_mtime, expected, mismatch);
    }
    ::close(in);
    return ok;
  }

  FileSystem::LinkCopy CopyLink(const std::string& from, const std::string& rel,
                                const std::string* expected_target) override {
    std::string target(PATH_MAX, '\0');
    ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return FileSystem::LinkCopy::kFailed;
    target.resize(static_cast<size_t>(n));
    if (expected_target != nullptr && target != *expected_target) {
      return FileSystem::LinkCopy::kFailed;
    }
    bool exists = false;
    std::string error;
    return MakeDirs(ParentOf(rel)) && out_->MakeLink(rel, target, true, &exists, &error)
               ? FileSystem::LinkCopy::kCopied
               : FileSystem::LinkCopy::kFailed;
  }

  bool List(const std::string& rel, std::vector<DirEntry>* entries) override {
    std::vector<safetree::TreeEntry> listed;
    entries->clear();
    if (!out_->List(rel, &listed)) return false;
    for (const safetree::TreeEntry& e : listed) entries->push_back(Entry(e));
    return true;
  }

  bool Find(const std::string& rel, DirEntry* found) override {
    safetree::TreeEntry e;
    if (!out_->Find(rel, &e)) return false;
    *found = Entry(e);
    return true;
  }

  void Remove(const std::string& rel, std::vector<std::string>* left) override {
    out_->Remove(rel, left);
  }

  void MakeWritable(const std::string& rel) override { out_->MakeWritable(rel); }

  safetree::FileId RootId() override { return out_->RootId(); }
  bool ProgramsMayRun() override { return out_->ProgramsMayRun(); }

  bool RemoveRoot(const std::string& named, std::string* why) override {
    return out_->RemoveRoot(named, why);
  }

 private:
  static DirEntry Entry(const safetree::TreeEntry& e) {
    using Kind = safetree::TreeEntry::Kind;
    return {e.name, e.kind == Kind::kDirectory, e.kind == Kind::kLink, e.kind == Kind::kSpecial,
            e.id};
  }
  static std::string ParentOf(const std::string& rel) {
    size_t cut = rel.find_last_of('/');
    return cut == std::string::npos ? "" : rel.substr(0, cut);
  }
  std::unique_ptr<safetree::Tree> out_;
};

}  // namespace

std::unique_ptr<TreeWriter> PosixFileSystem::OpenTreeWriter(const std::string& root, bool make) {
  std::string error;
  std::unique_ptr<safetree::Tree> out = safetree::OpenTree(root, make, &error);
  if (!out) return nullptr;
  return std::make_unique<PosixTreeWriter>(std::move(out));
}

bool PosixFileSystem::Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool PosixFileSystem::CanReadWrite(const std::string& path) {
  return ::access(path.c_str(), R_OK | W_OK) == 0;
}

bool PosixFileSystem::IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// Copies the bytes of `in` (`size` when it was opened) to `out`, both at their offsets. The
// kernel copies the data itself (and may share blocks on file systems that can); where it
// refuses, the bytes go through a buffer. False when a read or write fails.
bool CopyBytes(int in, int out, off_t size) {
  bool ok = true;
  bool kernel_copy = true;
  for (off_t left = size; kernel_copy && left > 0;) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
    if (n > 0) {
      left -= n;
    } else if (n == 0) {
      break;  // the file shrank meanwhile: the rest is copied the slow way, to its end
    } else if (errno != EINTR) {
      kernel_copy = false;
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
          errno != EPERM) {
        ok = false;
      }
    }
  }
  char buffer[65536];
  while (ok) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buffer + done, n - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  return ok;
}

// A regular file moved to another file system: its bytes copied into a file made anew
// (never through a link, never onto what stands at the name), flushed, and only then the
// old name removed. A copy that fails is removed again and the file stays where it was.
bool MoveAcross(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    errno = EXDEV;
    return false;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = safetree::SetMadeMode(out, 0600, false) && CopyBytes(in, out, st.st_size);
  ok = ::fsync(out) == 0 && ok;
  ok = ::close(out) == 0 && ok;
  ::close(in);
  if (!ok) {
    ::unlink(to.c_str());
    return false;
  }
  ::unlink(from.c_str());
  return true;
}

}  // namespace

bool PosixFileSystem::MoveFileNoReplace(const std::string& from, const std::string& to) {
  // Unlike rename, this never replaces a file, an empty directory or a link planted by
  // someone else under the new name. The kernel does it in one step; where the file
  // system cannot, a file gets a new link and loses its old name; across file systems
  // (a -rscratchPath elsewhere than TEMP) a file is copied.
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EXDEV) return MoveAcross(from, to);
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  if (::link(from.c_str(), to.c_str()) != 0) return errno == EXDEV && MoveAcross(from, to);
  ::unlink(from.c_str());
  return true;
}

FileSystem::MakeDirResult PosixFileSystem::MakeDir(const std::string& path, bool owner_only) {
  // Never writable by others, whatever the umask: the launcher runs as root in shared
  // places, and a directory it makes (a log directory, say) must not take others' files.
  const mode_t mode = owner_only ? 0700 : 0755;
  if (::mkdir(path.c_str(), mode) != 0) {
    return errno == EEXIST ? MakeDirResult::kAlreadyExists : MakeDirResult::kFailed;
  }
  // Its mode as asked, and no access list its parent passes on: opened as itself, never
  // as a link put at its name meanwhile.
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const bool set = fd >= 0 && safetree::SetMadeMode(fd, mode, true);
  if (fd >= 0) ::close(fd);
  if (set) return MakeDirResult::kCreated;
  ::rmdir(path.c_str());
  return MakeDirResult::kFailed;
}

bool PosixFileSystem::RemoveDir(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool PosixFileSystem::RemoveFile(const std::string& path) {
  // Windows refuses to delete a read-only file; keep that rule so that a tree walk
  // leaves such a file, and its directories, in place on both targets.
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}

namespace {

// Root and the user running the launcher may own what the run trusts.
bool TrustedOwner(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Why a directory on the way to the scratch directory lets another user swap what lies
// below it: empty when it does not.
std::string AncestorRisk(const std::string& dir, const struct stat& st) {
  if (!TrustedOwner(st.st_uid)) {
    return "its parent directory " + dir + " belongs to user id " + std::to_string(st.st_uid);
  }
  if ((st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0) {
    return "its parent directory " + dir + " may be written by other users (mode " +
           ModeText(st.st_mode) + ")";
  }
  return "";
}

// The risk of each step of the way as named: a link another user owns may be turned to
// point elsewhere at any time, and a directory others may write (not sticky) lets them
// replace what follows it, a link of root's too. Then of each directory of the real path
// above `real`.
std::string PathRisk(const std::string& named, const std::string& real) {
  for (size_t pos = named.find('/', 1); pos != std::string::npos; pos = named.find('/', pos + 1)) {
    struct stat st;
    const std::string prefix = named.substr(0, pos);
    if (::lstat(prefix.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode) && !TrustedOwner(st.st_uid)) {
      return "the link " + prefix + " on its way belongs to user id " + std::to_string(st.st_uid);
    }
    if (std::string risk = S_ISDIR(st.st_mode) ? AncestorRisk(prefix, st) : ""; !risk.empty()) {
      return risk;
    }
  }
  for (std::string dir = real; dir.size() > 1;) {
    dir = dir.substr(0, std::max<size_t>(dir.find_last_of('/'), 1));
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return "its parent directory " + dir + " cannot be examined";
    std::string risk = AncestorRisk(dir, st);
    if (!risk.empty()) return risk;
  }
  return "";
}

// An entry of the directory's access list (or of its default list, which what is made in
// it inherits) that names another user or a group: empty when there is none. The lists are
// read as the kernel keeps them: a version, then entries of tag, permissions and id.
std::string AccessListRisk(const std::string& path) {
  constexpr uint16_t kNamedUser = 0x02, kNamedGroup = 0x08;
  for (const bool inherited : {false, true}) {
    const char* name = inherited ? "system.posix_acl_default" : "system.posix_acl_access";
    std::string list(1024, '\0');
    ssize_t n = ::lgetxattr(path.c_str(), name, list.data(), list.size());
    if (n < 0 && errno == ERANGE) {
      n = ::lgetxattr(path.c_str(), name, nullptr, 0);
      list.resize(n > 0 ? static_cast<size_t>(n) : 0);
      n = ::lgetxattr(path.c_str(), name, list.data(), list.size());
    }
    if (n < 0) continue;  // none, or a file system without access lists
    auto at = [&](size_t pos, size_t size) {
      uint32_t v = 0;
      for (size_t i = size; i-- > 0;) v = v << 8 | static_cast<unsigned char>(list[pos + i]);
      return v;
    };
    for (size_t pos = 4; pos + 8 <= static_cast<size_t>(n); pos += 8) {
      const uint32_t tag = at(pos, 2), id = at(pos + 4, 4);
      if ((tag == kNamedUser && id != ::geteuid()) || tag == kNamedGroup) {
        return std::string("has an access list entry") +
               (inherited ? " that what is made in it inherits," : "") + " for " +
               (tag == kNamedUser ? "user" : "group") + " id " + std::to_string(id);
      }
    }
  }
  return "";
}

}  // namespace

bool PosixFileSystem::CheckPrivateDirectory(const std::string& path, std::string* why) {
  struct stat st;
  std::string reason;
  if (::lstat(path.c_str(), &st) != 0) {
    reason = "cannot be examined: " + std::string(std::strerror(errno));
  } else if (S_ISLNK(st.st_mode)) {
    reason =
        "is a symbolic link (of user id " + std::to_string(st.st_uid) + "), which is not followed";
  } else if (!S_ISDIR(st.st_mode)) {
    reason = kNotADirectory;
  } else if (!TrustedOwner(st.st_uid)) {
    reason = "belongs to user id " + std::to_string(st.st_uid) +
             ", not to the user running the installer";
  } else if ((st.st_mode & 022) != 0) {
    reason = "may be written by other users (mode " + ModeText(st.st_mode) + ")";
  } else if ((reason = AccessListRisk(path)).empty()) {
    std::string named, real(PATH_MAX, '\0');
    FullPath(path, &named);
    if (::realpath(path.c_str(), real.data()) == nullptr) {
      reason = "cannot be examined: " + std::string(std::strerror(errno));
    } else {
      real.resize(std::char_traits<char>::length(real.c_str()));
      reason = PathRisk(named, real);
    }
  }
  if (reason.empty()) return true;
  // A file where a directory was asked for is no matter of other users.
  *why =
      path + " " + reason +
      (reason == kNotADirectory ? ": the installer stages only into a directory."
                                : ": another user could change what the installer runs from it.");
  return false;
}

bool PosixFileSystem::CheckSharedDirectory(const std::string& path, std::string* why) {
  // The path as named, not folded: a link before a ".." is on its way too.
  struct stat st;
  std::string reason, real(PATH_MAX, '\0');
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && !TrustedOwner(st.st_uid)) {
    reason = "is a symbolic link of user id " + std::to_string(st.st_uid);
  } else if (::realpath(path.c_str(), real.data()) == nullptr || ::stat(real.c_str(), &st) != 0) {
    reason = "cannot be examined: " + std::string(std::strerror(errno));
  } else if (!S_ISDIR(st.st_mode)) {
    reason = kNotADirectory;
  } else if (!TrustedOwner(st.st_uid)) {
    reason = "belongs to user id " + std::to_string(st.st_uid) +
             ", not to the user running the installer";
  } else if ((st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0) {
    reason = "may be written by other users and is not sticky (mode " + ModeText(st.st_mode) + ")";
  } else {
    real.resize(std::char_traits<char>::length(real.c_str()));
    reason = PathRisk(path, real);
  }
  if (reason.empty()) return true;
  *why = path + " " + reason;
  return false;
}

bool PosixFileSystem::IsLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool PosixFileSystem::RemoveLink(const std::string& path) { return ::unlink(path.c_str()) == 0; }

FileSystem::LinkCopy PosixFileSystem::CopyLink(const std::string& from, const std::string& to) {
  std::string target(PATH_MAX, '\0');
  ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
  if (n < 0 || static_cast<size_t>(n) >= target.size()) return LinkCopy::kFailed;
  target.resize(static_cast<size_t>(n));
  ::unlink(to.c_str());
  return ::symlink(target.c_str(), to.c_str()) == 0 ? LinkCopy::kCopied : LinkCopy::kFailed;
}

bool PosixFileSystem::CopyFileOverwriting(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(in);
    return false;
  }
  // The copy is its owner's alone, runnable where the source is its owner's to run. A file
  // (or a link) already there is replaced, never written through.
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int out = ::open(to.c_str(), flags, 0600);
  if (out < 0 && errno == EEXIST && ::unlink(to.c_str()) == 0)
    out = ::open(to.c_str(), flags, 0600);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = safetree::SetMadeMode(out, (st.st_mode & S_IXUSR) != 0 ? 0700 : 0600, false) &&
            CopyBytes(in, out, st.st_size);
  ::close(in);
  if (::close(out) != 0) ok = false;
  return ok;
}

bool PosixFileSystem::ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) {
  entries->clear();
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(d);
    if (e == nullptr) {
      // A listing cut short by an error is no listing: callers would take what is missing
      // for absent (a component's versions, files to copy).
      if (errno == 0) break;
      ::closedir(d);
      entries->clear();
      return false;
    }
    DirEntry entry;
    entry.name = e->d_name;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {
      // Some file systems do not say; ask, without following a link.
      struct stat st;
      if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        type = S_ISDIR(st.st_mode)   ? DT_DIR
               : S_ISLNK(st.st_mode) ? DT_LNK
               : S_ISREG(st.st_mode) ? DT_REG
                                     : DT_FIFO;
      }
    }
    entry.is_directory = type == DT_DIR;
    entry.is_link = type == DT_LNK;
    entry.is_special = type != DT_DIR && type != DT_LNK && type != DT_REG && type != DT_UNKNOWN;
    entries->push_back(entry);
  }
  ::closedir(d);
  // readdir's order is the file system's whim; names in byte order keep listings (and
  // so the class path) the same from run to run, as NTFS's sorted listings are.
  std::sort(entries->begin(), entries->end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool PosixFileSystem::HashFile(const std::string& path, uint64_t* size,
                               std::array<uint8_t, 32>* sha256) {
  // Not blocking, and only a regular file: a pipe put in a listed file's place would wait
  // for a writer for ever.
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  manifest::Sha256 hash;
  std::vector<uint8_t> buffer(ok ? 1 << 20 : 0);
  *size = 0;
  while (ok) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    hash.Update(buffer.data(), static_cast<size_t>(n));
    *size += static_cast<uint64_t>(n);
  }
  ::close(fd);
  if (ok) *sha256 = hash.Final();
  return ok;
}

bool PosixFileSystem::ReadLink(const std::string& path, std::string* target) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  std::string text(static_cast<size_t>(st.st_size) + 1, '\0');
  ssize_t n = ::readlink(path.c_str(), text.data(), text.size());
  // A target longer than lstat said was changed meanwhile: no answer rather than half.
  if (n < 0 || static_cast<size_t>(n) >= text.size()) return false;
  text.resize(static_cast<size_t>(n));
  *target = std::move(text);
  return true;
}

FileSystem::ReadResult PosixFileSystem::ReadFile(const std::string& path, std::string* bytes) {
  // The same file is read again and again in one run (the parameter file once per key,
  // the base catalogue twice): while it is unchanged, its bytes are kept.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    auto it = read_cache_.find(path);
    if (it != read_cache_.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
        it->second.size == st.st_size && it->second.mtime_ns == MtimeNs(st)) {
      *bytes = it->second.bytes;
      return ReadResult::kOk;
    }
  }
  // Not blocking: opening a pipe for reading would wait for a writer that never comes.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ReadResult::kCannotOpen;
  ReadResult result = ReadResult::kCannotOpen;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    result = static_cast<uint64_t>(st.st_size) > kMaxReadBytes ? ReadResult::kTooLarge
                                                               : ReadAll(fd, st, bytes);
  }
  ::close(fd);
  if (result == ReadResult::kOk) {
    read_cache_[path] = {st.st_dev, st.st_ino, st.st_size, MtimeNs(st), *bytes};
  }
  return result;
}

std::unique_ptr<AppendFile> PosixFileSystem::OpenLogFile(const std::string& path, bool create,
                                                         safetree::FileId* id) {
  // The log may lie in a directory that others can write to, such as /tmp: a link or a
  // file planted there by another user is never written through or appended to. A new log
  // is made where no file was; a log opened again is the one this run made.
  // What a log holds (a debug run's command line with its passwords) is its owner's to
  // read alone, whatever the umask or the directory's access list would give others.
  int fd = ::open(
      path.c_str(),
      O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0),
      0600);
  if (fd < 0) return nullptr;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (!create || safetree::SetMadeMode(fd, 0600, false)) &&
            ::fcntl(fd, F_SETFL, O_APPEND) == 0;
  const safetree::FileId now = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  if (ok && create) *id = now;
  if (!ok || now != *id) {
    ::close(fd);
    return nullptr;
  }
  FILE* file = ::fdopen(fd, "a");
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  return WrapStdioAppendFile(file);
}

bool PosixFileSystem::Identify(const std::string& path, safetree::FileId* id) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  *id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

bool PosixFileSystem::ResolvePath(const std::string& path, std::string* resolved) {
  std::string real(PATH_MAX, '\0');
  if (::realpath(path.c_str(), real.data()) == nullptr) return false;
  real.resize(std::char_traits<char>::length(real.c_str()));
  *resolved = real;
  return true;
}

std::unique_ptr<TreeWriter> PosixFileSystem::HoldTree(const std::string& root, std::string* why) {
  std::unique_ptr<safetree::Tree> out = safetree::HoldTree(root, why);
  if (!out) return nullptr;
  return std::make_unique<PosixTreeWriter>(std::move(out));
}

bool PosixFileSystem::FullPath(const std::string& path, std::string* full) {
  if (!path.empty() && path[0] == '/') {
    *full = FoldDots(path);
    return true;
  }
  std::string cwd(PATH_MAX, '\0');
  if (::getcwd(cwd.data(), cwd.size()) == nullptr) return false;
  cwd.resize(std::char_traits<char>::length(cwd.c_str()));
  *full = FoldDots(cwd + "/" + path);
  return true;
}

bool PosixFileSystem::SetWorkingDirectory(const std::string& path) {
  return ::chdir(path.c_str()) == 0;
}

bool PosixFileSystem::FreeSpaceKb(const std::string& path, uint64_t* kb) {
  struct statvfs st;
  if (::statvfs(path.c_str(), &st) != 0) return false;
  *kb = static_cast<uint64_t>(st.f_bavail) * st.f_frsize / 1024;
  return true;
}

}  // namespace zorvex::platform
