// The one header that includes <windows.h>; every Win32 source of the platform layer
// includes it instead, so that the rest of the launcher never sees the Windows headers.
#pragma once

#include <string>
#include <utility>

#include "platform/platform.h"
#include "safetree/win32_text.h"  // <windows.h>, lean and without min/max

namespace zorvex::platform {

// Closes a kernel handle when it goes out of scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = nullptr) : h_(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void Reset() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = nullptr;
  }
  // Gives the handle up to another owner.
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  HANDLE h_;
};

// Closes a registry key when it goes out of scope.
class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The "\\?\" form of a launcher path (ANSI code page), for the calls that then take paths
// beyond 260 characters and names exactly as listed.
std::wstring LongPath(const std::string& path);

// The access list of a directory for its owner alone, as 0700 is on POSIX: the user running
// the launcher, SYSTEM and the Administrators, nothing inherited from the parent. Empty
// when the user's identity cannot be read.
std::string OwnerOnlySddl();

class Win32FileSystem : public FileSystem {
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
};

class Win32Processes : public Processes {
 public:
  std::unique_ptr<ChildProcess> Start(const std::string& command_line, bool hidden,
                                      uint32_t* error) override;
  std::string StartFailureText(uint32_t error) override;
};

class Win32Registry : public Registry {
 public:
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
};

class Win32Console : public Console {
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
  HANDLE output_ = nullptr;
};

class Win32System : public System {
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
};

}  // namespace zorvex::platform
