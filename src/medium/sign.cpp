#include "medium/sign.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace zorvex::medium {

namespace fs = std::filesystem;

bool ValidSignOptions(const SignOptions& o, std::string* error) {
  if (!o.pkcs12.empty() && (!o.cert.empty() || !o.key.empty())) {
    *error = "give --sign-pkcs12 FILE, or --sign-cert FILE with --sign-key FILE, not both";
    return false;
  }
  if (o.pkcs12.empty() && (o.cert.empty() || o.key.empty())) {
    *error = "--sign-cert FILE and --sign-key FILE go together";
    return false;
  }
  for (const std::string& file : {o.cert, o.key, o.pkcs12, o.password_file}) {
    if (!file.empty() && !fs::is_regular_file(file)) {
      *error = file + " does not exist";
      return false;
    }
  }
  return true;
}

#ifdef _WIN32
int RunCaptured(const std::vector<std::string>&, std::string* output) {
  *output = "signing runs osslsigncode, which this Windows build does not start: sign on Linux";
  return -1;
}
#else
int RunCaptured(const std::vector<std::string>& argv, std::string* output) {
  char pattern[] = "/tmp/zorvex-medium-output.XXXXXX";
  int fd = ::mkstemp(pattern);
  if (fd < 0) {
    *output = "no temporary file for " + argv[0] + "'s output";
    return -1;
  }
  ::unlink(pattern);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fd, 1);
  posix_spawn_file_actions_adddup2(&actions, fd, 2);
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc == 0) ::waitpid(pid, &status, 0);
  output->clear();
  char buffer[4096];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) output->append(buffer, n);
  ::close(fd);
  if (rc != 0) {
    *output = argv[0] + " cannot be started (is it installed?)";
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

namespace {

// The key's password from the environment, in a file only its owner may read: the
// command line would show it to every user of the machine.
std::string PasswordFile(const SignOptions& o, const std::string& work_dir) {
  if (!o.password_file.empty()) return o.password_file;
  const char* password = std::getenv("ZORVEX_SIGN_PASSWORD");
  if (password == nullptr) return "";
  const fs::path file = fs::path(work_dir) / ".sign-password";
  std::ofstream(file, std::ios::binary | std::ios::trunc);
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  std::ofstream(file, std::ios::binary) << password;
  return file.string();
}

}  // namespace

bool SignProgram(const SignOptions& o, const std::string& file, const std::string& work_dir,
                 std::string* error) {
  const std::string signed_copy = file + ".signed";
  std::vector<std::string> argv = {"osslsigncode", "sign"};
  if (!o.pkcs12.empty()) {
    argv.insert(argv.end(), {"-pkcs12", o.pkcs12});
  } else {
    argv.insert(argv.end(), {"-certs", o.cert, "-key", o.key});
  }
  const std::string password = PasswordFile(o, work_dir);
  if (!password.empty()) argv.insert(argv.end(), {"-readpass", password});
  std::optional<int64_t> time = o.time;
  if (!time) {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) time = std::atoll(epoch);
  }
  if (time) argv.insert(argv.end(), {"-time", std::to_string(*time)});
  if (!o.timestamp_url.empty()) argv.insert(argv.end(), {"-ts", o.timestamp_url});
  argv.insert(argv.end(), {"-in", file, "-out", signed_copy});
  std::string output;
  int status = RunCaptured(argv, &output);
  if (password != o.password_file) fs::remove(password);
  std::error_code ec;
  if (status != 0) {
    fs::remove(signed_copy, ec);
    *error = "cannot sign " + file + ":\n" + output;
    return false;
  }
  fs::rename(signed_copy, file, ec);
  if (ec) *error = "cannot replace " + file + " by its signed copy: " + ec.message();
  return !ec;
}

}  // namespace zorvex::medium
