// The POSIX implementations of the platform interfaces (Linux).
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "platform/platform.h"

namespace zorvex::platform {

class PosixFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override;
  bool CanReadWrite(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  MakeDirResult MakeDir(const std::string& path, bool owner_only) override;
  bool RemoveDir(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool CheckPrivateDirectory(const std::string& path, std::string* why) override;
  bool CheckSharedDirectory(const std::string& path, std::string* why) override;
  bool IsLink(const std::string& path) override;
  bool RemoveLink(const std::string& path) override;
  LinkCopy CopyLink(const std::string& from, const std::string& to) override;
  bool CopyFileOverwriting(const std::string& from, const std::string& to) override;
  bool MoveFileNoReplace(const std::string& from, const std::string& to) override;
  bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) override;
  ReadResult ReadFile(const std::string& path, std::string* bytes) override;
  bool HashFile(const std::string& path, uint64_t* size, std::array<uint8_t, 32>* sha256) override;
  bool ReadLink(const std::string& path, std::string* target) override;
  std::unique_ptr<AppendFile> OpenLogFile(const std::string& path, bool create,
                                          safetree::FileId* id) override;
  bool Identify(const std::string& path, safetree::FileId* id) override;
  bool ResolvePath(const std::string& path, std::string* resolved) override;
  bool FullPath(const std::string& path, std::string* full) override;
  bool SetWorkingDirectory(const std::string& path) override;
  bool FreeSpaceKb(const std::string& path, uint64_t* kb) override;
  std::unique_ptr<TreeWriter> OpenTreeWriter(const std::string& root, bool make) override;
  std::unique_ptr<TreeWriter> HoldTree(const std::string& root, std::string* why) override;

 private:
  struct CachedFile {
    dev_t dev;
    ino_t ino;
    off_t size;
    int64_t mtime_ns;
    std::string bytes;
  };
  std::map<std::string, CachedFile> read_cache_;
};

// Children are started from the Windows command-line text, split by the Windows C
// runtime's rules, with posix_spawn in a new process group.
class PosixProcesses : public Processes {
 public:
  std::unique_ptr<ChildProcess> Start(const std::string& command_line, bool hidden,
                                      uint32_t* error) override;
  std::string StartFailureText(uint32_t error) override;
};

// A registry kept in files: each key a directory below the root, each string value a file
// holding the value's bytes; names match case-insensitively. A value whose name a subkey
// of the same key holds lives in the key's subdirectory "\" instead, so that the two
// coexist as on Windows. Links are never followed, and values are written only into
// regular files of the user running the launcher.
class PosixRegistry : public Registry {
 public:
  // `root` is the directory that stands for HKEY_LOCAL_MACHINE's parent.
  explicit PosixRegistry(std::string root) : root_(std::move(root)) {}
  // Two launchers' write probes take turns (flock on the root), so that one's value and
  // subkey of the probe's name are never the other's.
  std::unique_ptr<RegistryLock> LockForProbe() override;
  ReadResult ReadValue(const std::string& key, const std::string& name,
                       std::string* value) override;
  bool KeyExists(const std::string& key) override;
  ReadResult ReadDword(const std::string& key, const std::string& name, uint32_t* value) override;
  bool OpenForWrite(const std::string& key) override;
  bool SetStringValue(const std::string& key, const std::string& name,
                      const std::string& value) override;
  bool DeleteValue(const std::string& key, const std::string& name) override;
  bool CreateKey(const std::string& key, const std::string& class_name) override;
  bool DeleteKey(const std::string& key) override;

 private:
  // The directory of an existing key, names matched case-insensitively; empty when absent.
  std::string FindKey(const std::string& key);
  // The file of an existing value in an existing key directory; empty when absent.
  std::string FindValue(const std::string& key_dir, const std::string& name);
  std::string root_;
};

class PosixConsole : public Console {
 public:
  void UseStandardOutput() override;
  void Create(const std::string& title) override;
  void Print(const std::string& utf8) override;
  void WriteStdout(const std::string& bytes) override;
  void WriteStderr(const std::string& bytes) override;
  void FlushStdout() override;
  void ShowMessageBox(const std::string& title, const std::string& text) override;
  int ReadChar() override;
  bool PersonCanAnswer() override;
  void DiscardPendingInput() override;
  bool IsInteractive() override;

 private:
  bool have_output_ = false;
};

class PosixSystem : public System {
 public:
  bool ModulePath(std::string* path, uint32_t* error) override;
  std::optional<std::string> GetEnv(const std::string& name) override;
  void UserLocale(std::string* language, std::string* country) override;
  std::tm LocalTime() override;
  uint32_t TickCount() override;
  bool IsAnsiLetter(unsigned char c) override;
  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& default_value, const std::string& file) override;
  OsVersion GetOsVersionInfo() override;
  int DisplayBitsPerPixel() override;
  uint32_t CpuMhz() override;
  PagingInfo Paging() override;

 private:
  // The program's path as first read: it is one path for the whole run, and a later read
  // that fails (no /proc left, a descriptor limit) cannot leave a caller without it.
  std::string module_path_;
};

}  // namespace zorvex::platform
