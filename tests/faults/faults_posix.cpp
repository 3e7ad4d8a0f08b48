// Fault injection for the sanitizer build: linked into setup, unzip and zorvex-medium with
// the linker's --wrap for each system call below, so that every call the programs (and the
// C++ runtime linked into them) make goes through Hit() first. The shipped programs are
// linked without it and carry nothing of it.
//
// Chosen by the environment, and only in the program named by ZORVEX_FAULT_PROGRAM (the
// launcher's children inherit the environment):
//   ZORVEX_FAULT_TRACE=FILE  appends one line per call: "N NAME WHAT" (counting run)
//   ZORVEX_FAULT_AT=N        the Nth call fails with the error the system gives for it
//   ZORVEX_FAULT_ERRNO=E     that error instead of the call's own (a number)
//   ZORVEX_FAULT_KILL=N      the process is killed (SIGKILL) at its Nth call
//   ZORVEX_FAULT_REPORT=FILE receives "N NAME WHAT ERRNO" for the call that failed
//   ZORVEX_FAULT_SHORT=1     the Nth call, when it moves bytes (read, write, a copy the
//                            kernel makes), moves fewer than asked instead of failing, as a
//                            signal, a pipe or a nearly full disk may make any such call do;
//                            its report gives ERRNO 0. Any other call at N goes through.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>

extern "C" {
int __real_open(const char*, int, ...);
int __real_openat(int, const char*, int, ...);
ssize_t __real_write(int, const void*, size_t);
ssize_t __real_readlink(const char*, char*, size_t);
}

namespace {

struct Settings {
  bool active = false;
  long fail_at = 0;
  long kill_at = 0;
  int error = 0;
  bool shorten = false;
  int trace_fd = -1;
  std::string report;
};

long Number(const char* name) {
  const char* v = getenv(name);
  return v ? atol(v) : 0;
}

const Settings& Config() {
  static const Settings settings = [] {
    Settings s;
    const char* program = getenv("ZORVEX_FAULT_PROGRAM");
    if (!program || strcmp(program, program_invocation_short_name) != 0) return s;
    s.active = true;
    s.fail_at = Number("ZORVEX_FAULT_AT");
    s.kill_at = Number("ZORVEX_FAULT_KILL");
    s.error = static_cast<int>(Number("ZORVEX_FAULT_ERRNO"));
    s.shorten = Number("ZORVEX_FAULT_SHORT") != 0;
    if (const char* trace = getenv("ZORVEX_FAULT_TRACE")) {
      s.trace_fd = __real_open(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    if (const char* report = getenv("ZORVEX_FAULT_REPORT")) s.report = report;
    return s;
  }();
  return settings;
}

std::atomic<long> g_calls{0};

// The file a descriptor is open on, as the kernel names it.
std::string FdName(int fd) {
  char buf[4096];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = __real_readlink(link.c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "fd " + std::to_string(fd);
}

std::string AtName(int dirfd, const char* path) {
  std::string p = path ? path : "";
  if (!p.empty() && p[0] == '/') return p;
  std::string dir = dirfd == AT_FDCWD ? "." : FdName(dirfd);
  return p.empty() ? dir : dir + "/" + p;
}

void Append(int fd, const std::string& line) {
  if (fd >= 0) (void)!__real_write(fd, line.data(), line.size());
}

void Report(long n, const char* name, const std::string& what, int error) {
  const Settings& s = Config();
  if (s.report.empty()) return;
  int fd = __real_open(s.report.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  Append(fd, std::to_string(n) + " " + name + " " + what + " " + std::to_string(error) + "\n");
  if (fd >= 0) close(fd);
}

// Counts the call (tracing it, killing the program at its number); its number.
template <typename What>
long Count(const char* name, What what) {
  const Settings& s = Config();
  if (!s.active) return 0;
  long n = ++g_calls;
  if (s.trace_fd >= 0) Append(s.trace_fd, std::to_string(n) + " " + name + " " + what() + "\n");
  if (n == s.kill_at) kill(getpid(), SIGKILL);
  return n;
}

// True when call number `n` is the one to fail, with errno set to `error` (or the error
// the environment names).
template <typename What>
bool FailAt(long n, const char* name, int error, What what) {
  const Settings& s = Config();
  if (!s.active || s.shorten || n != s.fail_at) return false;
  int e = s.error ? s.error : error;
  Report(n, name, what(), e);
  errno = e;
  return true;
}

template <typename What>
bool Hit(const char* name, int error, What what) {
  return FailAt(Count(name, what), name, error, what);
}

// The count a call that moves `size` bytes is to move: fewer (half) when it is call
// number `n` of a short sweep.
template <typename What>
size_t Moved(long n, const char* name, size_t size, What what) {
  const Settings& s = Config();
  if (!s.active || !s.shorten || n != s.fail_at || size < 2) return size;
  Report(n, name, what(), 0);
  return size / 2;
}

auto Path(const char* p) {
  return [p] { return std::string(p ? p : ""); };
}
auto Fd(int fd) {
  return [fd] { return FdName(fd); };
}
auto At(int dirfd, const char* p) {
  return [dirfd, p] { return AtName(dirfd, p); };
}

// What opening fails with: no permission, no descriptor left, or (creating) no room.
int OpenError(int flags) {
  long n = g_calls.load() % 3;
  if (n == 0) return EACCES;
  if (n == 1) return EMFILE;
  return (flags & O_CREAT) ? ENOSPC : EACCES;
}

}  // namespace

#define REAL(ret, name, ...)                 \
  extern "C" ret __real_##name(__VA_ARGS__); \
  extern "C" ret __wrap_##name(__VA_ARGS__)

REAL(int, open, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | __O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  if (Hit("open", OpenError(flags), Path(path))) return -1;
  return __real_open(path, flags, mode);
}

REAL(int, openat, int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | __O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  if (Hit("openat", OpenError(flags), At(dirfd, path))) return -1;
  return __real_openat(dirfd, path, flags, mode);
}

// openat2 and the other calls made through syscall(): the same rules as openat. The six
// arguments are passed on whatever the call takes, as the C library's own syscall() does:
// past the ones the caller gave, the last one is read from the caller's stack, which is no
// fault of the caller's, so AddressSanitizer is not to report it.
extern "C" long __real_syscall(long number, ...);
extern "C" __attribute__((no_sanitize("address"))) long __wrap_syscall(long number, ...) {
  va_list ap;
  va_start(ap, number);
  long a[6];
  for (long& x : a) x = va_arg(ap, long);
  va_end(ap);
  if (number == SYS_openat2 &&
      Hit("openat2", EACCES, At(static_cast<int>(a[0]), reinterpret_cast<const char*>(a[1])))) {
    return -1;
  }
  return __real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

REAL(ssize_t, read, int fd, void* buf, size_t n) {
  long k = Count("read", Fd(fd));
  if (FailAt(k, "read", EIO, Fd(fd))) return -1;
  return __real_read(fd, buf, Moved(k, "read", n, Fd(fd)));
}
REAL(ssize_t, pread, int fd, void* buf, size_t n, off_t off) {
  long k = Count("pread", Fd(fd));
  if (FailAt(k, "pread", EIO, Fd(fd))) return -1;
  return __real_pread(fd, buf, Moved(k, "pread", n, Fd(fd)), off);
}
// What writing fails with: no room, or the device failing.
static int WriteError() { return g_calls.load() % 2 ? ENOSPC : EIO; }

REAL(ssize_t, write, int fd, const void* buf, size_t n) {
  // Standard output and error are the reports of a failure; they are not failed here.
  long k = fd > 2 ? Count("write", Fd(fd)) : 0;
  if (FailAt(k, "write", WriteError(), Fd(fd))) return -1;
  return __real_write(fd, buf, Moved(k, "write", n, Fd(fd)));
}
REAL(ssize_t, pwrite, int fd, const void* buf, size_t n, off_t off) {
  long k = Count("pwrite", Fd(fd));
  if (FailAt(k, "pwrite", WriteError(), Fd(fd))) return -1;
  return __real_pwrite(fd, buf, Moved(k, "pwrite", n, Fd(fd)), off);
}
REAL(size_t, fwrite, const void* buf, size_t size, size_t n, FILE* f) {
  if (f != stdout && f != stderr && Hit("fwrite", WriteError(), Fd(fileno(f)))) return 0;
  return __real_fwrite(buf, size, n, f);
}
REAL(int, fflush, FILE* f) {
  if (f && f != stdout && f != stderr && Hit("fflush", ENOSPC, Fd(fileno(f)))) return EOF;
  return __real_fflush(f);
}
REAL(FILE*, fopen, const char* path, const char* mode) {
  if (Hit("fopen", strchr(mode, 'r') ? EACCES : ENOSPC, Path(path))) return nullptr;
  return __real_fopen(path, mode);
}
REAL(ssize_t, getline, char** line, size_t* n, FILE* f) {
  if (Hit("getline", EIO, Fd(fileno(f)))) return -1;
  return __real_getline(line, n, f);
}
REAL(int, mkdir, const char* path, mode_t mode) {
  if (Hit("mkdir", ENOSPC, Path(path))) return -1;
  return __real_mkdir(path, mode);
}
REAL(int, mkdirat, int dirfd, const char* path, mode_t mode) {
  if (Hit("mkdirat", ENOSPC, At(dirfd, path))) return -1;
  return __real_mkdirat(dirfd, path, mode);
}
REAL(char*, mkdtemp, char* pattern) {
  if (Hit("mkdtemp", ENOSPC, Path(pattern))) return nullptr;
  return __real_mkdtemp(pattern);
}
REAL(int, mkstemp, char* pattern) {
  if (Hit("mkstemp", ENOSPC, Path(pattern))) return -1;
  return __real_mkstemp(pattern);
}
REAL(int, unlink, const char* path) {
  if (Hit("unlink", EACCES, Path(path))) return -1;
  return __real_unlink(path);
}
REAL(int, unlinkat, int dirfd, const char* path, int flags) {
  if (Hit("unlinkat", (flags & AT_REMOVEDIR) ? EBUSY : EACCES, At(dirfd, path))) return -1;
  return __real_unlinkat(dirfd, path, flags);
}
REAL(int, rmdir, const char* path) {
  if (Hit("rmdir", EBUSY, Path(path))) return -1;
  return __real_rmdir(path);
}
REAL(int, rename, const char* from, const char* to) {
  if (Hit("rename", EACCES, Path(to))) return -1;
  return __real_rename(from, to);
}
REAL(int, renameat, int fd1, const char* from, int fd2, const char* to) {
  if (Hit("renameat", EACCES, At(fd2, to))) return -1;
  return __real_renameat(fd1, from, fd2, to);
}
REAL(int, renameat2, int fd1, const char* from, int fd2, const char* to, unsigned flags) {
  if (Hit("renameat2", EACCES, At(fd2, to))) return -1;
  return __real_renameat2(fd1, from, fd2, to, flags);
}
REAL(int, linkat, int fd1, const char* from, int fd2, const char* to, int flags) {
  if (Hit("linkat", ENOSPC, At(fd2, to))) return -1;
  return __real_linkat(fd1, from, fd2, to, flags);
}
REAL(int, symlink, const char* target, const char* path) {
  if (Hit("symlink", ENOSPC, Path(path))) return -1;
  return __real_symlink(target, path);
}
REAL(int, symlinkat, const char* target, int dirfd, const char* path) {
  if (Hit("symlinkat", ENOSPC, At(dirfd, path))) return -1;
  return __real_symlinkat(target, dirfd, path);
}
REAL(ssize_t, readlink, const char* path, char* buf, size_t n) {
  if (Hit("readlink", EIO, Path(path))) return -1;
  return __real_readlink(path, buf, n);
}
REAL(ssize_t, readlinkat, int dirfd, const char* path, char* buf, size_t n) {
  if (Hit("readlinkat", EIO, At(dirfd, path))) return -1;
  return __real_readlinkat(dirfd, path, buf, n);
}
REAL(int, stat, const char* path, struct stat* st) {
  if (Hit("stat", EACCES, Path(path))) return -1;
  return __real_stat(path, st);
}
REAL(int, lstat, const char* path, struct stat* st) {
  if (Hit("lstat", EACCES, Path(path))) return -1;
  return __real_lstat(path, st);
}
REAL(int, fstat, int fd, struct stat* st) {
  if (Hit("fstat", EIO, Fd(fd))) return -1;
  return __real_fstat(fd, st);
}
REAL(int, fstatat, int dirfd, const char* path, struct stat* st, int flags) {
  if (Hit("fstatat", EACCES, At(dirfd, path))) return -1;
  return __real_fstatat(dirfd, path, st, flags);
}
REAL(int, statx, int dirfd, const char* path, int flags, unsigned mask, struct statx* st) {
  if (Hit("statx", EACCES, At(dirfd, path))) return -1;
  return __real_statx(dirfd, path, flags, mask, st);
}
REAL(int, access, const char* path, int mode) {
  if (Hit("access", EACCES, Path(path))) return -1;
  return __real_access(path, mode);
}
REAL(int, fchmod, int fd, mode_t mode) {
  if (Hit("fchmod", EPERM, Fd(fd))) return -1;
  return __real_fchmod(fd, mode);
}
REAL(int, fchmodat, int dirfd, const char* path, mode_t mode, int flags) {
  if (Hit("fchmodat", EPERM, At(dirfd, path))) return -1;
  return __real_fchmodat(dirfd, path, mode, flags);
}
REAL(int, chmod, const char* path, mode_t mode) {
  if (Hit("chmod", EPERM, Path(path))) return -1;
  return __real_chmod(path, mode);
}
REAL(int, futimens, int fd, const struct timespec* times) {
  if (Hit("futimens", EPERM, Fd(fd))) return -1;
  return __real_futimens(fd, times);
}
REAL(int, utimensat, int dirfd, const char* path, const struct timespec* times, int flags) {
  if (Hit("utimensat", EPERM, At(dirfd, path))) return -1;
  return __real_utimensat(dirfd, path, times, flags);
}
REAL(DIR*, opendir, const char* path) {
  if (Hit("opendir", EMFILE, Path(path))) return nullptr;
  return __real_opendir(path);
}
REAL(DIR*, fdopendir, int fd) {
  if (Hit("fdopendir", ENOMEM, Fd(fd))) return nullptr;
  return __real_fdopendir(fd);
}
REAL(struct dirent*, readdir, DIR* dir) {
  if (Hit("readdir", EIO, Fd(dirfd(dir)))) return nullptr;
  return __real_readdir(dir);
}
REAL(int, ftruncate, int fd, off_t size) {
  if (Hit("ftruncate", ENOSPC, Fd(fd))) return -1;
  return __real_ftruncate(fd, size);
}
REAL(int, fallocate, int fd, int mode, off_t off, off_t len) {
  if (Hit("fallocate", ENOSPC, Fd(fd))) return -1;
  return __real_fallocate(fd, mode, off, len);
}
REAL(int, posix_fallocate, int fd, off_t off, off_t len) {
  // Reports its error as the result, not in errno.
  if (Hit("posix_fallocate", ENOSPC, Fd(fd))) return ENOSPC;
  return __real_posix_fallocate(fd, off, len);
}
REAL(ssize_t, copy_file_range, int in, off_t* in_off, int out, off_t* out_off, size_t n,
     unsigned flags) {
  long k = Count("copy_file_range", Fd(out));
  if (FailAt(k, "copy_file_range", EIO, Fd(out))) return -1;
  return __real_copy_file_range(in, in_off, out, out_off, Moved(k, "copy_file_range", n, Fd(out)),
                                flags);
}
REAL(ssize_t, sendfile, int out, int in, off_t* off, size_t n) {
  long k = Count("sendfile", Fd(out));
  if (FailAt(k, "sendfile", EIO, Fd(out))) return -1;
  return __real_sendfile(out, in, off, Moved(k, "sendfile", n, Fd(out)));
}
REAL(void*, mmap, void* addr, size_t n, int prot, int flags, int fd, off_t off) {
  // Only mappings of files: the C and C++ runtimes map anonymous memory as they please.
  if (fd >= 0 && !(flags & MAP_ANONYMOUS) && Hit("mmap", ENOMEM, Fd(fd))) return MAP_FAILED;
  return __real_mmap(addr, n, prot, flags, fd, off);
}
REAL(int, statvfs, const char* path, struct statvfs* st) {
  if (Hit("statvfs", EIO, Path(path))) return -1;
  return __real_statvfs(path, st);
}
REAL(int, fstatvfs, int fd, struct statvfs* st) {
  if (Hit("fstatvfs", EIO, Fd(fd))) return -1;
  return __real_fstatvfs(fd, st);
}
REAL(int, chdir, const char* path) {
  if (Hit("chdir", EACCES, Path(path))) return -1;
  return __real_chdir(path);
}
REAL(char*, getcwd, char* buf, size_t n) {
  if (Hit("getcwd", ENOENT, Path("."))) return nullptr;
  return __real_getcwd(buf, n);
}
REAL(char*, realpath, const char* path, char* resolved) {
  if (Hit("realpath", EACCES, Path(path))) return nullptr;
  return __real_realpath(path, resolved);
}
REAL(int, pipe, int fds[2]) {
  if (Hit("pipe", EMFILE, Path("pipe"))) return -1;
  return __real_pipe(fds);
}
REAL(int, pipe2, int fds[2], int flags) {
  if (Hit("pipe2", EMFILE, Path("pipe"))) return -1;
  return __real_pipe2(fds, flags);
}
REAL(int, dup, int fd) {
  if (Hit("dup", EMFILE, Fd(fd))) return -1;
  return __real_dup(fd);
}
REAL(int, flock, int fd, int op) {
  if (Hit("flock", ENOLCK, Fd(fd))) return -1;
  return __real_flock(fd, op);
}
REAL(int, posix_spawn, pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
     const posix_spawnattr_t* attr, char* const argv[], char* const envp[]) {
  // Reports its error as the result: the program cannot start (no memory or process left).
  if (Hit("posix_spawn", EAGAIN, Path(path))) return EAGAIN;
  return __real_posix_spawn(pid, path, actions, attr, argv, envp);
}
REAL(int, posix_spawnp, pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
     const posix_spawnattr_t* attr, char* const argv[], char* const envp[]) {
  if (Hit("posix_spawnp", EAGAIN, Path(file))) return EAGAIN;
  return __real_posix_spawnp(pid, file, actions, attr, argv, envp);
}
REAL(pid_t, waitpid, pid_t pid, int* status, int options) {
  // A signal arriving while the launcher waits.
  if (Hit("waitpid", EINTR, Path("child"))) return -1;
  return __real_waitpid(pid, status, options);
}
