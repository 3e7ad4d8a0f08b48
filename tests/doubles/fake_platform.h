// Hand-written test doubles of the platform layer: an in-memory file system with injected
// failures and a call log, a scripted registry, a capturing console, a recording process
// launcher and a scripted system. PlatformTest installs them for one test.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/run_context.h"

namespace zorvex::testing {

class FakeFileSystem : public platform::FileSystem {
 public:
  explicit FakeFileSystem(const platform::PathStyle* style) : style_(style) {}

  // Set-up helpers: directories and files with their parents.
  void AddDir(const std::string& path);
  void AddFile(const std::string& path, const std::string& bytes = "");
  // A link at `path` to `target`: listed as a link, never followed by the walks.
  void AddLink(const std::string& path, const std::string& target);
  bool HasLink(const std::string& path) const;
  bool IsDir(const std::string& path) const;
  bool HasFile(const std::string& path) const;
  std::string Contents(const std::string& path) const;
  std::vector<std::string> Children(const std::string& dir) const;

  // Injected failures, by path.
  std::set<std::string> read_only;  // exists but cannot be written (or deleted)
  std::set<std::string> held_open;  // cannot be deleted, read-only or not
  std::set<std::string> mkdir_fails;
  std::set<std::string> unlistable;
  std::set<std::string> copy_fails;
  bool full_path_fails = false;
  bool copies_links = true;  // false: links are not copied, as on Windows
  std::string cwd;
  std::vector<std::string> log;  // "mkdir X", "rm X", "rmdir X", "copy A B", "chdir X"

  bool Exists(const std::string& path) override;
  bool CanReadWrite(const std::string& path) override;
  bool IsDirectory(const std::string& path) override { return IsDir(path); }
  MakeDirResult MakeDir(const std::string& path, bool owner_only) override;
  bool RemoveDir(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool CheckPrivateDirectory(const std::string& path, std::string* why) override;
  bool CheckSharedDirectory(const std::string& path, std::string* why) override;
  bool IsLink(const std::string& path) override { return HasLink(path); }
  bool RemoveLink(const std::string& path) override;
  LinkCopy CopyLink(const std::string& from, const std::string& to) override;
  bool CopyFileOverwriting(const std::string& from, const std::string& to) override;
  bool MoveFileNoReplace(const std::string& from, const std::string& to) override;
  bool ListDirectory(const std::string& dir, std::vector<platform::DirEntry>* entries) override;
  ReadResult ReadFile(const std::string& path, std::string* bytes) override;
  bool HashFile(const std::string& path, uint64_t* size, std::array<uint8_t, 32>* sha256) override;
  bool ReadLink(const std::string& path, std::string* target) override;
  std::unique_ptr<platform::AppendFile> OpenLogFile(const std::string& path, bool create,
                                                    safetree::FileId* id) override;
  bool Identify(const std::string& path, safetree::FileId* id) override;
  bool ResolvePath(const std::string& path, std::string* resolved) override;
  bool FullPath(const std::string& path, std::string* full) override;
  bool SetWorkingDirectory(const std::string& path) override;
  bool FreeSpaceKb(const std::string& path, uint64_t* kb) override;
  std::unique_ptr<platform::TreeWriter> OpenTreeWriter(const std::string& root, bool make) override;
  std::unique_ptr<platform::TreeWriter> HoldTree(const std::string& root,
                                                 std::string* why) override;

  // Directories CheckPrivateDirectory refuses, with the reason it gives; and those
  // CheckSharedDirectory refuses.
  std::map<std::string, std::string> not_private;
  std::map<std::string, std::string> not_shared;
  // Directories HoldTree reaches under another name than the one given (Windows reading a
  // name in another form), by the name given.
  std::map<std::string, std::string> held_as;
  // Every directory, file and link at or below the path.
  std::vector<std::string> Below(const std::string& path) const;
  // Removes them, but for what is held open and its ancestors, which are added to *left.
  void RemoveAll(const std::string& path, std::vector<std::string>* left);
  std::string Normal(const std::string& path) const;

 private:
  std::string Parent(const std::string& path) const;
  const platform::PathStyle* style_;
  std::set<std::string> dirs_;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::string> links_;
};

class FakeRegistry : public platform::Registry {
 public:
  // Keys match case-insensitively, as on Windows.
  void SetValue(const std::string& key, const std::string& name, const std::string& value);
  void AddKey(const std::string& key);
  bool HasKey(const std::string& key) const;
  bool write_denied = false;  // OpenForWrite fails
  bool set_value_fails = false;
  bool create_key_fails = false;
  std::vector<std::string> log;

  ReadResult ReadValue(const std::string& key, const std::string& name,
                       std::string* value) override;
  bool KeyExists(const std::string& key) override { return HasKey(key); }
  ReadResult ReadDword(const std::string& key, const std::string& name, uint32_t* value) override;
  bool OpenForWrite(const std::string& key) override;
  bool SetStringValue(const std::string& key, const std::string& name,
                      const std::string& value) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;
  bool CreateKey(const std::string& key, const std::string& class_name) override;
  bool DeleteKey(const std::string& key) override;

 private:
  std::map<std::string, std::map<std::string, std::string>> keys_;
};

class FakeConsole : public platform::Console {
 public:
  bool have_output = false;
  bool created = false;
  std::string printed;             // console output
  std::string out;                 // runtime standard output
  std::string err;                 // standard error
  std::vector<std::string> boxes;  // "title|text"
  std::string input;               // what standard input holds
  size_t input_pos = 0;
  int chars_read = 0;

  void UseStandardOutput() override { have_output = true; }
  void Create(const std::string& title) override;
  void Print(const std::string& utf8) override;
  void WriteStdout(const std::string& bytes) override { out += bytes; }
  void WriteStderr(const std::string& bytes) override { err += bytes; }
  void FlushStdout() override {}
  void ShowMessageBox(const std::string& title, const std::string& text) override;
  int ReadChar() override;
  void DiscardPendingInput() override {}
  bool interactive = false;
  bool IsInteractive() override { return interactive; }
  bool person = true;  // a person can answer on standard input
  bool PersonCanAnswer() override { return person; }
};

class FakeProcesses : public platform::Processes {
 public:
  std::vector<std::string> started;  // command lines
  std::vector<bool> hidden;
  uint32_t start_error = 0;  // non-zero: Start fails with it
  uint32_t exit_code = 0;
  uint32_t wait_error = 0;
  int waits = 0;

  std::unique_ptr<platform::ChildProcess> Start(const std::string& command_line, bool hide,
                                                uint32_t* error) override;
};

class FakeSystem : public platform::System {
 public:
  explicit FakeSystem(platform::FileSystem* files) : files_(files) {}
  std::string module_path;
  bool module_path_fails = false;
  std::map<std::string, std::string> env;
  std::string language = "ENU";
  std::string country = "USA";
  std::tm time{};

  bool ModulePath(std::string* path, uint32_t* error) override;
  std::optional<std::string> GetEnv(const std::string& name) override;
  void UserLocale(std::string* lang, std::string* ctry) override;
  std::tm LocalTime() override { return time; }
  uint32_t tick = 0;
  uint32_t tick_step = 0;  // how far the clock moves at each reading
  uint32_t TickCount() override { return tick += tick_step; }
  bool IsAnsiLetter(unsigned char c) override;
  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& default_value, const std::string& file) override;
  std::set<std::string> profile_keys_read;  // "section/key" of every lookup
  // Scripted probes.
  platform::OsVersion os_version{6, 1, ""};
  int bits_per_pixel = 32;
  uint32_t cpu_mhz = 2000;
  platform::PagingInfo paging{true, "C:\\pagefile.sys 1024 2048", 0, true, 0};
  platform::OsVersion GetOsVersionInfo() override { return os_version; }
  int DisplayBitsPerPixel() override { return bits_per_pixel; }
  uint32_t CpuMhz() override { return cpu_mhz; }
  platform::PagingInfo Paging() override { return paging; }

 private:
  platform::FileSystem* files_;
};

// The doubles, and a fresh run on them in progress for as long as this object lives.
class FakePlatform {
 public:
  explicit FakePlatform(const platform::PathStyle* style);
  // The doubles as a platform: what a run the test starts is given.
  platform::Platform Doubles();
  // A fresh run on the same doubles in progress instead of the one before: nothing the
  // earlier run knew (options, temporary directory, places, logs, catalogues) is seen.
  void NewRun();
  const platform::PathStyle* style_;
  FakeFileSystem files_;
  FakeRegistry registry_;
  FakeConsole console_;
  FakeProcesses processes_;
  FakeSystem system_;

 private:
  std::unique_ptr<RunContext> run_;
  std::optional<RunScope> scope_;
};

}  // namespace zorvex::testing
