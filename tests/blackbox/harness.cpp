#include "blackbox/harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "platform/command_line.h"

extern char** environ;

namespace zorvex::blackbox {

namespace fs = std::filesystem;

namespace {

constexpr char kWineServer[] = "/usr/lib/wine/wineserver";
constexpr int kRunTimeoutSeconds = 180;

std::string WinePrefix() { return NativeBuild() + "/blackbox-wineprefix"; }

std::vector<char*> Pointers(std::vector<std::string>* strings) {
  std::vector<char*> pointers;
  for (std::string& s : *strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Runs a program with exactly this environment; output to files; standard input from a
// file holding `input`.
RunResult Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                const std::string& work_dir, const std::string& input = "") {
  // Runs may go on side by side: each has its own output files.
  static std::atomic<int> counter{0};
  const std::string n = std::to_string(counter++);
  std::string out_file = work_dir + "/.stdout" + n;
  std::string err_file = work_dir + "/.stderr" + n;
  std::string in_file = work_dir + "/.stdin" + n;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int open_input[2] = {-1, -1};
  if (input == kOpenInput && pipe2(open_input, O_CLOEXEC) == 0) {
    posix_spawn_file_actions_adddup2(&actions, open_input[0], 0);
  } else {
    std::ofstream(in_file, std::ios::binary) << input;
    posix_spawn_file_actions_addopen(&actions, 0, in_file.c_str(), O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, work_dir.c_str());
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp = Pointers(&env_strings);
  std::vector<std::string> args = argv;
  std::vector<char*> argp = Pointers(&args);
  pid_t pid = 0;
  RunResult result;
  int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (open_input[0] >= 0) close(open_input[0]);
  // The writer's end stays open until the run has ended.
  struct CloseWriter {
    int fd;
    ~CloseWriter() {
      if (fd >= 0) close(fd);
    }
  } writer{open_input[1]};
  if (rc != 0) {
    result.err = "cannot start " + argv[0];
    return result;
  }
  int status = 0;
  // A run that waits on an open pipe waits for ever: it is given less time.
  const int seconds = input == kOpenInput ? kRunTimeoutSeconds / 6 : kRunTimeoutSeconds;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.err = "timed out";
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = Slurp(out_file);
  result.err = Slurp(err_file);
  unlink(out_file.c_str());
  unlink(err_file.c_str());
  unlink(in_file.c_str());
  return result;
}

// Drops terminal control sequences (ESC [ ... final byte, ESC ] ... BEL) and carriage
// returns, so that what a terminal shows can be compared as text.
std::string PlainText(const std::string& screen) {
  std::string text;
  for (size_t i = 0; i < screen.size(); ++i) {
    char c = screen[i];
    if (c == '\r') continue;
    if (c != '\x1b' || i + 1 >= screen.size()) {
      text.push_back(c);
      continue;
    }
    char kind = screen[++i];
    if (kind == '[') {
      while (i + 1 < screen.size() && !(screen[i + 1] >= 0x40 && screen[i + 1] <= 0x7e)) ++i;
      ++i;
    } else if (kind == ']') {
      while (i + 1 < screen.size() && screen[i + 1] != '\a') ++i;
      ++i;
    }
  }
  return text;
}

RunResult SpawnInTerminal(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env,
                          const std::string& work_dir,
                          const std::vector<Medium::Exchange>& dialogue, char enter) {
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp = Pointers(&env_strings);
  std::vector<std::string> args = argv;
  std::vector<char*> argp = Pointers(&args);
  RunResult result;
  int master = -1;
  // Carriage returns reach the program as typed: Wine's console, which reads the terminal
  // raw, takes only a carriage return for Enter, also when it was typed ahead.
  termios modes{};
  cfmakeraw(&modes);
  modes.c_lflag |= ICANON | ECHO | ISIG;
  modes.c_oflag |= OPOST | ONLCR;
  pid_t pid = forkpty(&master, nullptr, &modes, nullptr);
  if (pid < 0) {
    result.err = "cannot open a pseudo-terminal";
    return result;
  }
  if (pid == 0) {
    if (chdir(work_dir.c_str()) == 0) execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  std::string screen;
  size_t next = 0, seen = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunTimeoutSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      char buffer[4096];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;  // the terminal closed: every program on it has ended
      screen.append(buffer, static_cast<size_t>(n));
    }
    std::string text = PlainText(screen);
    if (next < dialogue.size()) {
      size_t at = text.find(dialogue[next].expect, seen);
      if (at != std::string::npos) {
        seen = at + dialogue[next].expect.size();
        std::string keys = dialogue[next++].send;
        for (char& c : keys) {
          if (c == '\n') c = enter;
        }
        if (write(master, keys.data(), keys.size()) < 0) break;
      }
    }
  }
  // The terminal closes as the program ends, a moment before it can be reaped: it is given
  // that moment before it counts as still running.
  int status = 0;
  pid_t ended = waitpid(pid, &status, WNOHANG);
  for (int i = 0; ended == 0 && std::chrono::steady_clock::now() < deadline && i < 400; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ended = waitpid(pid, &status, WNOHANG);
  }
  if (ended == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    result.err = "timed out";
  }
  close(master);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = PlainText(screen);
  return result;
}

std::map<std::string, std::string> BaseEnvironment() {
  std::map<std::string, std::string> env;
  for (const char* name : {"PATH", "HOME"}) {
    if (const char* v = std::getenv(name)) env[name] = v;
  }
  env["LANG"] = "C";
  return env;
}

// How many starts under Wine failed before the program ran, and were repeated.
std::atomic<int> g_wine_repeats{0};

// A start that Wine itself failed, before the program ran: it ended with 1 without a word
// (setup.exe and the unzip never end so), or Wine said it could not start it (status 121
// with "error 1359", an internal error of Wine's loader, or Wine's own "could not load").
bool WineFailedToStart(const RunResult& r) {
  if (r.status == 1 && r.out.empty() && r.err.empty()) return true;
  const bool wines =
      r.err.find("wine: ") != std::string::npos || r.err.find("error 1359") != std::string::npos;
  return wines && (r.status == 121 || r.err.find("could not load") != std::string::npos ||
                   r.err.find("cannot start") != std::string::npos);
}

// Runs `start` (a Wine start when `wine`) again while Wine fails it before the program
// runs, at most three times in all; each repeat is counted for the summary.
RunResult RepeatWinesFailures(bool wine, const std::function<RunResult()>& start) {
  RunResult r = start();
  for (int repeat = 0; wine && repeat < 2 && WineFailedToStart(r); ++repeat) {
    ++g_wine_repeats;
    r = start();
  }
  return r;
}

// Wine's server ends a few seconds after its last program has, and starts again with the
// next: a program started while the server ends may fail before it runs, and every new
// server costs its start. One server stays for the whole test program. At the end it says
// how many starts Wine failed before the program ran (each was repeated), so that a red run
// always means the program.
class WineServer : public ::testing::Environment {
 public:
  // Persistent until ten seconds after its last program: test programs run side by side
  // share it, and none ends it under another's feet.
  void SetUp() override { Control("-p10"); }
  void TearDown() override {
    if (g_wine_repeats > 0) {
      std::cout << "Wine failed " << g_wine_repeats
                << " starts before the program ran; each was started again.\n";
    }
  }

 private:
  static void Control(const char* option) {
    if (!fs::exists(kWine) || !fs::exists(kWineServer)) return;
    std::map<std::string, std::string> env = BaseEnvironment();
    env["WINEPREFIX"] = WinePrefix();
    fs::create_directories(WinePrefix());  // the first program makes the prefix in it
    Spawn({kWineServer, option}, env, WinePrefix());
  }
};

[[maybe_unused]] const ::testing::Environment* const kWineServerEnvironment =
    ::testing::AddGlobalTestEnvironment(new WineServer);

}  // namespace

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string NativeBuild() {
  const char* other = std::getenv("ZORVEX_BLACKBOX_BUILD");
  return other != nullptr && *other != '\0' ? std::filesystem::absolute(other).string()
                                            : ZORVEX_NATIVE_BUILD;
}

std::vector<Target> BuiltTargets() {
  std::vector<Target> targets;
  std::string native = NativeBuild();
  targets.push_back({"native", false, native, native + "/tests"});
  std::string windows = ZORVEX_WINDOWS_BUILD;
  if (fs::exists(windows + "/setup.exe") && fs::exists(kWine)) {
    targets.push_back({"windows", true, windows, windows + "/tests"});
  }
  return targets;
}

Medium::Medium(const Target& target, const std::string& medium_name) : target_(target) {
  // No hyphen in the name: the launcher finds its options anywhere in the command line,
  // and a random "-J" or "-help" in a path would be taken for one.
  std::string pattern = (fs::temp_directory_path() / "zorvex_bb_XXXXXX").string();
  root = mkdtemp(pattern.data());
  medium_dir = root + "/" + medium_name;
  jre_dir = root + "/jre";
  temp_dir = root + "/temp";
  registry_dir = root + "/registry";
  record_file = root + "/java-record.txt";
  fs::create_directories(medium_dir);
  fs::create_directories(jre_dir + "/bin");
  fs::create_directories(temp_dir);
  fs::create_directories(registry_dir + "/HKEY_LOCAL_MACHINE/SOFTWARE");
  const std::string exe = target.windows ? "setup.exe" : "setup";
  fs::copy_file(target.build_dir + "/" + exe, medium_dir + "/" + exe);
  const std::string unzip = target.windows ? "unzip.exe" : "unzip";
  fs::copy_file(target.build_dir + "/" + unzip, medium_dir + "/" + unzip);
  fs::copy(target.build_dir + "/resource", medium_dir + "/resource");
  if (target.windows) {
    for (const char* java : {"java.exe", "javaw.exe"}) {
      fs::copy_file(target.tests_dir + "/fake_java.exe", jre_dir + "/bin/" + java);
    }
  } else {
    fs::copy_file(target.tests_dir + "/fake_java", jre_dir + "/bin/java");
  }
}

// A Java stand-in that the launcher did not wait for may write its record while the
// directory goes; it is removed again until it is gone, so that no test leaves anything.
Medium::~Medium() {
  std::error_code ec;
  for (int i = 0; i < 20 && fs::exists(root, ec); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fs::remove_all(root, ec);
  }
}

std::string Medium::TargetPath(const std::string& unix_path) const {
  if (!target_.windows) return unix_path;
  std::string p = "Z:" + unix_path;
  for (const auto& [dir, letter] : drives) {
    if (unix_path == dir || unix_path.rfind(dir + "/", 0) == 0) {
      p = letter + (unix_path == dir ? "/" : unix_path.substr(dir.size()));
    }
  }
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

void Medium::WriteParamFile(const std::string& keys, const std::string& path) {
  std::string text = "[Zorvex]\n";
  if (keys.find("JRE_LOCATION=") == std::string::npos) {
    text += "JRE_LOCATION=" + TargetPath(jre_dir) + "\n";
  }
  text += keys;
  std::ofstream(path.empty() ? medium_dir + "/zorparam.ini" : path, std::ios::binary) << text;
}

void Medium::RemoveCatalogues() { fs::remove_all(medium_dir + "/resource"); }

void Medium::AddComponent(const std::string& name, const std::string& version,
                          const std::map<std::string, std::string>& files) {
  const std::string tree = root + "/tree-" + name + "-" + version;
  for (const auto& [path, contents] : files) {
    fs::create_directories(fs::path(tree + "/" + path).parent_path());
    if (contents == kJavaStandIn) {
      fs::copy_file(target_.tests_dir + (target_.windows ? "/fake_java.exe" : "/fake_java"),
                    tree + "/" + path, fs::copy_options::overwrite_existing);
    } else {
      std::ofstream(tree + "/" + path, std::ios::binary) << contents;
    }
  }
  const std::string dir =
      medium_dir + "/../stage/Components/" + name + "/" + version + "/1/DataFiles";
  fs::create_directories(dir);
  const std::string zip =
      "cd '" + tree + "' && zip -qry '" + dir + "/" + name + ".jar' . >/dev/null";
  if (std::system(zip.c_str()) != 0) std::fprintf(stderr, "cannot pack %s\n", name.c_str());
  fs::remove_all(tree);
}

void Medium::AddRuntimeComponent(const std::string& version) {
  const std::string bin = "jre/" + version + "/bin/";
  std::map<std::string, std::string> files;
  if (target_.windows) {
    files = {{bin + "java.exe", kJavaStandIn}, {bin + "javaw.exe", kJavaStandIn}};
  } else {
    files = {{bin + "java", kJavaStandIn}};
  }
  AddComponent("zorvex.swd.jre", version, files);
}

void Medium::Command(const std::vector<std::string>& args, const Env& extra,
                     std::vector<std::string>* argv, std::map<std::string, std::string>* env) {
  *env = BaseEnvironment();
  Env settings = {{"TEMP", TargetPath(temp_dir)},
                  {"ZORVEX_FAKE_JAVA_RECORD", TargetPath(record_file)}};
  for (const auto& [k, v] : extra) settings[k] = v;
  if (!target_.windows) {
    (*env)["ZORVEX_REGISTRY"] = registry_dir;
    for (const auto& [k, v] : settings) {
      if (v == kUnset) {
        env->erase(k);
      } else {
        (*env)[k] = v;
      }
    }
    *argv = {medium_dir + "/setup"};
    argv->insert(argv->end(), args.begin(), args.end());
    return;
  }
  (*env)["WINEPREFIX"] = WinePrefix();
  (*env)["WINEDEBUG"] = "-all";
  (*env)["WINEDLLOVERRIDES"] = "mscoree,mshtml=";
  if (const char* display = std::getenv("DISPLAY")) (*env)["DISPLAY"] = display;
  std::string command = TargetPath(medium_dir + "/setup.exe");
  if (!args.empty()) command += " " + platform::JoinArgumentsAsTyped(args);
  (*env)["ZORVEX_ENVRUN_COMMAND"] = command;
  // Wine sets TEMP and TMP from its own registry; the helper puts the test's in place.
  *argv = {kWine, target_.tests_dir + "/envrun.exe"};
  for (const auto& [k, v] : settings) {
    if (k == "LANG" || k == "LC_ALL") {
      (*env)[k] = v;  // the locale is Wine's own, taken from the Unix side at its start
      continue;
    }
    argv->push_back(k + "=" + (v == kUnset ? "" : v));
  }
}

RunResult Medium::Run(const std::vector<std::string>& args, const Env& extra,
                      const std::string& input) {
  std::vector<std::string> argv;
  std::map<std::string, std::string> env;
  Command(args, extra, &argv, &env);
  return RepeatWinesFailures(target_.windows, [&] { return Spawn(argv, env, root, input); });
}

RunResult Medium::RunInTerminal(const std::vector<std::string>& args, const Env& extra,
                                const std::vector<Exchange>& dialogue) {
  std::vector<std::string> argv;
  std::map<std::string, std::string> env;
  Command(args, extra, &argv, &env);
  return SpawnInTerminal(argv, env, root, dialogue, target_.windows ? '\r' : '\n');
}

void Medium::SetRegistryValue(const std::string& key, const std::string& name,
                              const std::string& value) {
  if (!target_.windows) {
    // Keys are written in the case the test names them; the tests name "SOFTWARE" as the
    // medium made it, so that no key exists twice in two cases.
    std::string dir = registry_dir + "/HKEY_LOCAL_MACHINE";
    std::string part;
    for (char c : key + "\\") {
      if (c != '\\') {
        part.push_back(c);
        continue;
      }
      dir += "/" + part;
      part.clear();
    }
    fs::create_directories(dir);
    std::ofstream(dir + "/" + name, std::ios::binary) << value;
    return;
  }
  std::map<std::string, std::string> env = BaseEnvironment();
  env["WINEPREFIX"] = WinePrefix();
  env["WINEDEBUG"] = "-all";
  Spawn({kWine, "reg", "add", "HKLM\\" + key, "/v", name, "/d", value, "/f"}, env, root);
}

void Medium::DeleteRegistryKey(const std::string& key) {
  if (!target_.windows) {
    fs::remove_all(registry_dir + "/HKEY_LOCAL_MACHINE/" + key);
    return;
  }
  std::map<std::string, std::string> env = BaseEnvironment();
  env["WINEPREFIX"] = WinePrefix();
  env["WINEDEBUG"] = "-all";
  Spawn({kWine, "reg", "delete", "HKLM\\" + key, "/f"}, env, root);
}

RunResult RunBuilt(const Target& target, const std::string& name,
                   const std::vector<std::string>& args, const std::string& work_dir,
                   const Env& extra) {
  std::map<std::string, std::string> env = BaseEnvironment();
  for (const auto& [k, v] : extra) env[k] = v;
  std::vector<std::string> argv = {target.build_dir + "/" + name};
  if (target.windows) {
    env["WINEPREFIX"] = WinePrefix();
    env["WINEDEBUG"] = "-all";
    argv = {kWine, target.build_dir + "/" + name + ".exe"};
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return RepeatWinesFailures(target.windows, [&] { return Spawn(argv, env, work_dir); });
}

std::vector<JavaRecord> ParseJavaRecords(const std::string& text) {
  std::vector<JavaRecord> records;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("cwd=", 0) == 0) {
      records.push_back({line.substr(4), {}, {}});
    } else if (line.rfind("arg[", 0) == 0 && !records.empty()) {
      records.back().args.push_back(line.substr(line.find("]=") + 2));
    } else if (size_t eq = line.find('=');
               eq != std::string::npos && !records.empty() && line.rfind("argc=", 0) != 0) {
      records.back().notes[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return records;
}

std::vector<JavaRecord> Medium::JavaRuns() const { return ParseJavaRecords(Slurp(record_file)); }

std::vector<JavaRecord> Medium::WaitForJavaRuns(size_t count, int ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (true) {
    std::string text = Slurp(record_file);
    std::vector<JavaRecord> runs = ParseJavaRecords(text);
    size_t ended = 0;
    for (size_t pos = text.find("\nend"); pos != std::string::npos;
         pos = text.find("\nend", pos + 1)) {
      ++ended;
    }
    if (ended >= count || std::chrono::steady_clock::now() > deadline) return runs;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<std::string> Medium::TempEntries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(temp_dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Medium::ReadFile(const std::string& unix_path) const {
  std::string text = Slurp(unix_path);
  // Windows writes its text files with CR LF.
  if (target_.windows) std::erase(text, '\r');
  return text;
}

}  // namespace zorvex::blackbox
