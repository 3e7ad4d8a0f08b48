#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/command_line.h"
#include "platform/posix/posix_platform.h"

extern char** environ;

namespace zorvex::platform {

namespace {

constexpr uint32_t kStillActive = 259;

uint32_t StatusToCode(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
  return kStillActive;
}

// Ignores SIGINT and SIGQUIT for as long as it lives, then puts the old handling back.
class IgnoreTerminalSignals {
 public:
  IgnoreTerminalSignals() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGINT, &ignore, &old_int_);
    ::sigaction(SIGQUIT, &ignore, &old_quit_);
  }
  ~IgnoreTerminalSignals() {
    ::sigaction(SIGINT, &old_int_, nullptr);
    ::sigaction(SIGQUIT, &old_quit_, nullptr);
  }
  IgnoreTerminalSignals(const IgnoreTerminalSignals&) = delete;
  IgnoreTerminalSignals& operator=(const IgnoreTerminalSignals&) = delete;

 private:
  struct sigaction old_int_ {};
  struct sigaction old_quit_ {};
};

class PosixChild : public ChildProcess {
 public:
  explicit PosixChild(pid_t pid) : pid_(pid) {}
  ~PosixChild() override = default;

  uint32_t WaitForExit() override {
    if (reaped_) return 0;
    // The child shares the terminal: Ctrl-C and Ctrl-\ reach it as they reach the launcher.
    // As system() does, the launcher lets the child decide and waits for its status.
    IgnoreTerminalSignals ignore;
    int status = 0;
    while (true) {
      pid_t r = ::waitpid(pid_, &status, 0);
      if (r == pid_) break;
      if (r < 0 && errno == EINTR) continue;
      return static_cast<uint32_t>(errno);
    }
    reaped_ = true;
    code_ = StatusToCode(status);
    return 0;
  }

  bool ExitCode(uint32_t* code, uint32_t* error) override {
    if (!reaped_) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == 0) {
        *code = kStillActive;
        return true;
      }
      if (r < 0) {
        *error = static_cast<uint32_t>(errno);
        return false;
      }
      reaped_ = true;
      code_ = StatusToCode(status);
    }
    *code = code_;
    return true;
  }

 private:
  pid_t pid_;
  bool reaped_ = false;
  uint32_t code_ = 0;
};

}  // namespace

std::unique_ptr<ChildProcess> PosixProcesses::Start(const std::string& command_line,
                                                    bool /*hidden*/, uint32_t* error) {
  std::vector<std::string> args = SplitWindowsCommandLine(command_line);
  if (args.empty() || args[0].empty()) {
    *error = ENOENT;
    return nullptr;
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // In the launcher's own process group, so that Java may read the terminal: a child of
  // another group would be stopped at its first read, and the launcher would wait for ever.
  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    *error = static_cast<uint32_t>(rc);
    return nullptr;
  }
  return std::make_unique<PosixChild>(pid);
}

std::string PosixProcesses::StartFailureText(uint32_t error) {
  std::string text = std::strerror(static_cast<int>(error)) + std::string(".");
  // A TEMP mounted noexec, or a security module's rule, refuses the program itself.
  if (error == EACCES || error == EPERM) {
    text += " The file system may be mounted so that no program may run from it, or a "
            "security policy forbids it: give -rscratchPath a directory on another file "
            "system, or ask the administrator.";
  }
  return text;
}

}  // namespace zorvex::platform
