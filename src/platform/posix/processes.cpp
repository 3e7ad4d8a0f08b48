#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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

class PosixChild : public ChildProcess {
 public:
  explicit PosixChild(pid_t pid) : pid_(pid) {}
  ~PosixChild() override = default;

  uint32_t WaitForExit() override {
    if (reaped_) return 0;
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

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    *error = static_cast<uint32_t>(rc);
    return nullptr;
  }
  return std::make_unique<PosixChild>(pid);
}

}  // namespace zorvex::platform
