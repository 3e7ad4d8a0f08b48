// Black-box harness: builds a medium in a temporary directory around a built launcher
// (the native setup, or setup.exe run under Wine), runs it with a chosen environment and
// reads back what the recording Java stand-in received.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace zorvex::blackbox {

struct Target {
  std::string name;  // "native" or "windows"
  bool windows = false;
  std::string build_dir;  // holds setup(.exe) and resource/
  std::string tests_dir;  // holds fake_java(.exe) and, for Windows, envrun.exe
};

// The native build whose programs the tests run: this build's, or the one named by
// ZORVEX_BLACKBOX_BUILD (the test command runs the native build's tests against the
// sanitizer build's programs).
std::string NativeBuild();

// The targets whose programs are built; the Windows one only when setup.exe exists.
std::vector<Target> BuiltTargets();

// The name a test run for a target carries: "native" or "windows".
inline std::string TargetName(const ::testing::TestParamInfo<Target>& info) {
  return info.param.name;
}

struct RunResult {
  int status = -1;  // the low 8 bits, as POSIX and Wine pass the exit status on
  std::string out;
  std::string err;
};

// What one start of the Java stand-in recorded.
struct JavaRecord {
  std::string cwd;
  std::vector<std::string> args;             // argv[0] first
  std::map<std::string, std::string> notes;  // "read", "plant": what the stand-in did
};

// Wine's loader, as Debian installs it; a Windows target is run through it.
inline constexpr char kWine[] = "/usr/lib/wine/wine64";

// Contents that AddComponent replaces by the Java stand-in program.
inline constexpr char kJavaStandIn[] = "\x01java";

// Standard input of a run that is a pipe its writer keeps open until the run ends, as a
// deployment agent or a remote shell does.
inline constexpr char kOpenInput[] = "\x01open";

// Environment for a run: a value sets a variable, nullopt-like "\x01unset" removes it.
using Env = std::map<std::string, std::string>;
inline constexpr char kUnset[] = "\x01unset";

// A run that does not wait for Java ends with 259 only while Java still runs: the stand-in
// lingers a moment, so that a loaded machine cannot let it end first.
inline const Env kStillRunning = {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "500"}};

class Medium {
 public:
  // The launcher lies in root/`medium_name`, a directory of that name in a fresh
  // temporary directory.
  explicit Medium(const Target& target, const std::string& medium_name = "medium");
  ~Medium();

  // The path as the launcher of this target writes it (Z:\... under Wine, or a drive of
  // `drives`).
  std::string TargetPath(const std::string& unix_path) const;
  // Drives Wine maps (the letter, "Y:", by the directory it maps): the launcher is started
  // through them, as from a disc or a mapped share. The test maps them itself.
  std::map<std::string, std::string> drives;
  // The target's separator.
  char Sep() const { return target_.windows ? '\\' : '/'; }

  // Writes zorparam.ini beside the launcher with a [Zorvex] section holding `keys`
  // (lines "KEY=value"); JRE_LOCATION names the stand-in runtime unless `keys` names one.
  void WriteParamFile(const std::string& keys, const std::string& path = "");
  void RemoveCatalogues();

  // Packs a component for a distribution-layout medium: the files (path below the staged
  // directory, contents) zipped into stage/Components/NAME/VERSION/1/DataFiles/NAME.jar
  // beside the medium. Paths ending in "java" or "javaw.exe"/"java.exe" get the Java
  // stand-in.
  void AddComponent(const std::string& name, const std::string& version,
                    const std::map<std::string, std::string>& files);
  // A runtime component holding the Java stand-in as jre/VERSION/bin/java(.exe).
  void AddRuntimeComponent(const std::string& version);

  // Runs the launcher with the arguments (joined into the one command-line text on
  // Windows, as a user types it), extra environment and what standard input holds.
  RunResult Run(const std::vector<std::string>& args, const Env& env = {},
                const std::string& input = "");

  // Runs the launcher on a pseudo-terminal, as a user at a terminal starts it: each time
  // the output shows the next `expect` text, its `send` text is typed (a line end is
  // typed as the terminal's Enter). The output comes back without terminal control
  // sequences and carriage returns; `err` stays empty.
  struct Exchange {
    std::string expect;
    std::string send;
  };
  RunResult RunInTerminal(const std::vector<std::string>& args, const Env& env,
                          const std::vector<Exchange>& dialogue);

  // Sets or removes a registry value under HKEY_LOCAL_MACHINE (file-backed on POSIX,
  // "reg add" in the Wine prefix on Windows).
  void SetRegistryValue(const std::string& key, const std::string& name, const std::string& value);
  void DeleteRegistryKey(const std::string& key);

  std::vector<JavaRecord> JavaRuns() const;
  // Waits up to `ms` for the stand-in to have recorded `count` runs.
  std::vector<JavaRecord> WaitForJavaRuns(size_t count, int ms) const;
  // Entries of the temporary directory.
  std::vector<std::string> TempEntries() const;
  // A text file's contents, with Windows line ends read as "\n".
  std::string ReadFile(const std::string& unix_path) const;

  const Target& target() const { return target_; }
  std::string root;        // the temporary directory of the test
  std::string medium_dir;  // the launcher's directory
  std::string jre_dir;     // the stand-in runtime
  std::string temp_dir;    // TEMP of the runs
  std::string registry_dir;
  std::string record_file;

 private:
  // The program to start and its environment for a run of the launcher.
  void Command(const std::vector<std::string>& args, const Env& extra,
               std::vector<std::string>* argv, std::map<std::string, std::string>* env);
  Target target_;
};

// Runs a program of the target's build (`name` without ".exe"), natively or under Wine,
// in `work_dir`, with extra environment.
RunResult RunBuilt(const Target& target, const std::string& name,
                   const std::vector<std::string>& args, const std::string& work_dir,
                   const Env& extra = {});

// A whole file's bytes ("" when it cannot be read); a file written whole, its directory
// made first.
std::string Slurp(const std::string& path);
void Spit(const std::string& path, const std::string& bytes);

// Splits what the stand-in recorded.
std::vector<JavaRecord> ParseJavaRecords(const std::string& text);

}  // namespace zorvex::blackbox
