// Bases for the layers that stand in front of a platform part and change a few of its
// calls (the medium's guard, the medium tool's view of a launcher): every call goes to the
// part behind unless the layer overrides it, so that a layer's class shows only what it
// changes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zorvex::platform {

class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem* inner) : inner_(inner) {}
  bool Exists(const std::string& p) override { return inner_->Exists(p); }
  bool CanReadWrite(const std::string& p) override { return inner_->CanReadWrite(p); }
  bool IsDirectory(const std::string& p) override { return inner_->IsDirectory(p); }
  MakeDirResult MakeDir(const std::string& p, bool owner_only) override {
    return inner_->MakeDir(p, owner_only);
  }
  bool CheckPrivateDirectory(const std::string& p, std::string* why) override {
    return inner_->CheckPrivateDirectory(p, why);
  }
  bool CheckSharedDirectory(const std::string& p, std::string* why) override {
    return inner_->CheckSharedDirectory(p, why);
  }
  bool RemoveDir(const std::string& p) override { return inner_->RemoveDir(p); }
  bool RemoveFile(const std::string& p) override { return inner_->RemoveFile(p); }
  bool IsLink(const std::string& p) override { return inner_->IsLink(p); }
  bool RemoveLink(const std::string& p) override { return inner_->RemoveLink(p); }
  LinkCopy CopyLink(const std::string& from, const std::string& to) override {
    return inner_->CopyLink(from, to);
  }
  bool CopyFileOverwriting(const std::string& from, const std::string& to) override {
    return inner_->CopyFileOverwriting(from, to);
  }
  bool MoveFileNoReplace(const std::string& from, const std::string& to) override {
    return inner_->MoveFileNoReplace(from, to);
  }
  bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) override {
    return inner_->ListDirectory(dir, entries);
  }
  ReadResult ReadFile(const std::string& path, std::string* bytes) override {
    return inner_->ReadFile(path, bytes);
  }
  bool HashFile(const std::string& path, uint64_t* size, std::array<uint8_t, 32>* sha256) override {
    return inner_->HashFile(path, size, sha256);
  }
  bool ReadLink(const std::string& path, std::string* target) override {
    return inner_->ReadLink(path, target);
  }
  std::unique_ptr<AppendFile> OpenLogFile(const std::string& path, bool create,
                                          safetree::FileId* id) override {
    return inner_->OpenLogFile(path, create, id);
  }
  bool Identify(const std::string& path, safetree::FileId* id) override {
    return inner_->Identify(path, id);
  }
  bool ResolvePath(const std::string& path, std::string* resolved) override {
    return inner_->ResolvePath(path, resolved);
  }
  bool FullPath(const std::string& path, std::string* full) override {
    return inner_->FullPath(path, full);
  }
  bool SetWorkingDirectory(const std::string& path) override {
    return inner_->SetWorkingDirectory(path);
  }
  bool FreeSpaceKb(const std::string& path, uint64_t* kb) override {
    return inner_->FreeSpaceKb(path, kb);
  }
  std::unique_ptr<TreeWriter> OpenTreeWriter(const std::string& root, bool make) override {
    return inner_->OpenTreeWriter(root, make);
  }
  std::unique_ptr<TreeWriter> HoldTree(const std::string& root, std::string* why) override {
    return inner_->HoldTree(root, why);
  }

 protected:
  FileSystem* inner() const { return inner_; }

 private:
  FileSystem* inner_;
};

class ForwardingTreeWriter : public TreeWriter {
 public:
  explicit ForwardingTreeWriter(std::unique_ptr<TreeWriter> inner) : inner_(std::move(inner)) {}
  bool MakeDirs(const std::string& rel) override { return inner_->MakeDirs(rel); }
  bool CopyRegularFile(const std::string& from, const std::string& rel, const Expected* expected,
                       std::string* mismatch) override {
    return inner_->CopyRegularFile(from, rel, expected, mismatch);
  }
  FileSystem::LinkCopy CopyLink(const std::string& from, const std::string& rel,
                                const std::string* expected_target) override {
    return inner_->CopyLink(from, rel, expected_target);
  }
  bool List(const std::string& rel, std::vector<DirEntry>* entries) override {
    return inner_->List(rel, entries);
  }
  bool Find(const std::string& rel, DirEntry* found) override { return inner_->Find(rel, found); }
  void Remove(const std::string& rel, std::vector<std::string>* left) override {
    inner_->Remove(rel, left);
  }
  void MakeWritable(const std::string& rel) override { inner_->MakeWritable(rel); }
  safetree::FileId RootId() override { return inner_->RootId(); }
  bool RemoveRoot(const std::string& named, std::string* why) override {
    return inner_->RemoveRoot(named, why);
  }
  bool ProgramsMayRun() override { return inner_->ProgramsMayRun(); }

 protected:
  TreeWriter* inner() const { return inner_.get(); }

 private:
  std::unique_ptr<TreeWriter> inner_;
};

class ForwardingSystem : public System {
 public:
  explicit ForwardingSystem(System* inner) : inner_(inner) {}
  bool ModulePath(std::string* path, uint32_t* error) override {
    return inner_->ModulePath(path, error);
  }
  std::optional<std::string> GetEnv(const std::string& name) override {
    return inner_->GetEnv(name);
  }
  void UserLocale(std::string* language, std::string* country) override {
    inner_->UserLocale(language, country);
  }
  std::tm LocalTime() override { return inner_->LocalTime(); }
  uint32_t TickCount() override { return inner_->TickCount(); }
  bool IsAnsiLetter(unsigned char c) override { return inner_->IsAnsiLetter(c); }
  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& default_value, const std::string& file) override {
    return inner_->ProfileString(section, key, default_value, file);
  }
  OsVersion GetOsVersionInfo() override { return inner_->GetOsVersionInfo(); }
  int DisplayBitsPerPixel() override { return inner_->DisplayBitsPerPixel(); }
  uint32_t CpuMhz() override { return inner_->CpuMhz(); }
  PagingInfo Paging() override { return inner_->Paging(); }

 private:
  System* inner_;
};

}  // namespace zorvex::platform
