#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "medium/host.h"
#include "medium/sign.h"

namespace zorvex::medium {

namespace fs = std::filesystem;

namespace {

// The child's side of RunCaptured: its output to `out`, its input from nothing, and a
// failed start reported through `report`.
[[noreturn]] void StartChild(std::vector<char*>& pointers, int out, int report, pid_t parent,
                             bool let_finish) {
  // The signer goes with the build: a build killed midway leaves no signer behind that
  // goes on writing into its working directory. A group of its own, so that a child that
  // does not end in time goes with what it started. One that must finish (a signer
  // writing into a token) is asked to end, with SIGTERM held back until it has.
  if (let_finish) {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &term, nullptr);
  }
  ::prctl(PR_SET_PDEATHSIG, let_finish ? SIGTERM : SIGKILL);
  if (::getppid() != parent) ::_exit(127);
  ::setpgid(0, 0);
  // No core file of a process that may hold a key's password or PIN.
  const rlimit no_core = {0, 0};
  ::setrlimit(RLIMIT_CORE, &no_core);
  int in = ::open("/dev/null", O_RDONLY);
  if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) ::_exit(127);
  ::execvp(pointers[0], pointers.data());
  int error = errno;
  ssize_t written = ::write(report, &error, sizeof error);
  (void)written;
  ::_exit(127);
}

// Waits for the child until `timeout_seconds` have passed; then it is stopped (one that
// must finish is asked first, and killed only kFinishSeconds later). Its wait status.
int WaitWithin(pid_t pid, int timeout_seconds, bool let_finish, bool* timed_out) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  bool asked = false;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    const auto now = std::chrono::steady_clock::now();
    if (let_finish && !asked && now > deadline) {
      // Asked to end, and given time to finish what it writes.
      ::kill(-pid, SIGTERM);
      asked = *timed_out = true;
    } else if (now > deadline + (let_finish ? kFinishSeconds : std::chrono::seconds(0))) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      *timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

}  // namespace

int RunCaptured(const std::vector<std::string>& argv, std::string* output, int timeout_seconds,
                bool let_finish) {
  char pattern[] = "/tmp/zorvex-medium-output.XXXXXX";
  int fd = ::mkstemp(pattern);
  if (fd < 0) {
    *output = "no temporary file for " + argv[0] + "'s output";
    return -1;
  }
  ::unlink(pattern);
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  // The child reports a failed start through a pipe that its start closes.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    ::close(fd);
    *output = "no pipe to start " + argv[0];
    return -1;
  }
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) StartChild(pointers, fd, report[1], parent, let_finish);
  ::close(report[1]);
  int rc = pid < 0 ? errno : 0;
  if (pid > 0) {
    int error = 0;
    ssize_t n;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof error)) {
      rc = error;
      ::waitpid(pid, nullptr, 0);
    }
  }
  ::close(report[0]);
  bool timed_out = false;
  const int status = rc == 0 ? WaitWithin(pid, timeout_seconds, let_finish, &timed_out) : 0;
  output->clear();
  char buffer[4096];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) output->append(buffer, n);
  ::close(fd);
  if (rc != 0) {
    *output = argv[0] + " cannot be started (is it installed?)";
    return -1;
  }
  if (timed_out) {
    *output += argv[0] + " did not end within " + std::to_string(timeout_seconds) +
               " seconds and was stopped.\n";
    return kTimedOut;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

namespace host {

bool IsWindows() { return false; }
std::string ProgramName(const std::string& name) { return name; }

long ProcessId() { return static_cast<long>(::getpid()); }
std::string HostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}
bool ProcessMayRun(long pid) {
  return pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

fs::path PrivateDirectory() {
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  if (ec) return {};
  // Made 0700 at once: no other user gets a moment to look into it or plant something.
  std::string pattern = (temp / "zorvex-medium-signature-XXXXXX").string();
  return ::mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
}

// The password in a pipe that osslsigncode reads as a file (/dev/fd/N): it never lands on a
// disk, so no ending of the build, however sudden, can leave it there. -1 with *error when
// no pipe can be made or the password is larger than a pipe holds.
int PasswordPipe(const std::string& password, std::string* error) {
  int ends[2];
  if (::pipe(ends) != 0) {
    *error = std::string("no pipe for the signing key's password: ") + std::strerror(errno);
    return -1;
  }
  ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
  ssize_t n = ::write(ends[1], password.data(), password.size());
  ::close(ends[1]);
  if (n != static_cast<ssize_t>(password.size())) {
    ::close(ends[0]);
    *error = "the signing key's password is too long";
    return -1;
  }
  return ends[0];
}

void ClosePipe(int fd) { ::close(fd); }

void Unsetenv(const char* name) { ::unsetenv(name); }
void KeepMemoryPrivate() { ::prctl(PR_SET_DUMPABLE, 0); }

std::tm UtcTime(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

int DuplicateDescriptor(int fd) { return ::dup(fd); }
void PutDescriptor(int from, int to) { ::dup2(from, to); }
void CloseDescriptor(int fd) { ::close(fd); }

}  // namespace host
}  // namespace zorvex::medium
