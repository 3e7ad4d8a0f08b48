#include "doubles/fake_platform.h"

#include <algorithm>
#include <cctype>

#include "access/places.h"
#include "inventory/logs.h"
#include "manifest/manifest.h"
#include "messages/catalogue.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/profile_string.h"

namespace zorvex::testing {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class FakeAppendFile : public platform::AppendFile {
 public:
  FakeAppendFile(FakeFileSystem* fs, std::string path) : fs_(fs), path_(std::move(path)) {}
  bool Write(const std::string& bytes) override {
    fs_->AddFile(path_, fs_->Contents(path_) + bytes);
    return true;
  }

 private:
  FakeFileSystem* fs_;
  std::string path_;
};

class FakeChild : public platform::ChildProcess {
 public:
  explicit FakeChild(FakeProcesses* owner) : owner_(owner) {}
  uint32_t WaitForExit() override {
    ++owner_->waits;
    waited_ = true;
    return owner_->wait_error;
  }
  bool ExitCode(uint32_t* code, uint32_t*) override {
    *code = waited_ ? owner_->exit_code : 259;
    return true;
  }

 private:
  FakeProcesses* owner_;
  bool waited_ = false;
};

}  // namespace

// --- FakeFileSystem --------------------------------------------------------------------

// Folds "." and ".." the way the file system resolves them, and drops trailing separators.
// A relative path lies below the working directory, when one is set.
std::string FakeFileSystem::Normal(const std::string& relative_or_absolute) const {
  const char sep = style_->separator;
  const std::string& in = relative_or_absolute;
  bool absolute = style_->drive_letters
                      ? (in.size() >= 2 && in[1] == ':') || (!in.empty() && in[0] == sep)
                      : !in.empty() && in[0] == sep;
  const std::string path = absolute || cwd.empty() || in.empty() ? in : cwd + sep + in;
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != sep) {
      part.push_back(path[i]);
      continue;
    }
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (part != "." && !(part.empty() && !parts.empty())) {
      parts.push_back(part);
    }
    part.clear();
  }
  std::string p;
  for (size_t i = 0; i < parts.size(); ++i) p += (i > 0 ? std::string(1, sep) : "") + parts[i];
  if (p.empty() && !path.empty() && path[0] == sep) p = std::string(1, sep);
  return p;
}

std::string FakeFileSystem::Parent(const std::string& path) const {
  size_t cut = path.find_last_of(style_->separator);
  if (cut == std::string::npos || cut == 0) return cut == 0 ? std::string(1, path[0]) : "";
  return path.substr(0, cut);
}

void FakeFileSystem::AddDir(const std::string& path) {
  std::string p = Normal(path);
  while (!p.empty() && !dirs_.count(p)) {
    dirs_.insert(p);
    std::string parent = Parent(p);
    if (parent == p) break;
    p = parent;
  }
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& bytes) {
  std::string parent = Parent(Normal(path));
  if (!parent.empty()) AddDir(parent);
  files_[Normal(path)] = bytes;
}

void FakeFileSystem::AddLink(const std::string& path, const std::string& target) {
  std::string parent = Parent(Normal(path));
  if (!parent.empty()) AddDir(parent);
  links_[Normal(path)] = target;
}

bool FakeFileSystem::HasLink(const std::string& path) const {
  return links_.count(Normal(path)) > 0;
}

bool FakeFileSystem::RemoveLink(const std::string& path) {
  log.push_back("unlink " + path);
  return links_.erase(Normal(path)) > 0;
}

bool FakeFileSystem::CheckPrivateDirectory(const std::string& path, std::string* why) {
  auto it = not_private.find(Normal(path));
  if (it != not_private.end() || HasLink(path) || !IsDir(path)) {
    *why = path + " " + (it != not_private.end() ? it->second : "is no directory of its own");
    return false;
  }
  return true;
}

bool FakeFileSystem::CheckSharedDirectory(const std::string& path, std::string* why) {
  auto it = not_shared.find(Normal(path));
  if (it == not_shared.end()) return true;
  *why = path + " " + it->second;
  return false;
}

std::vector<std::string> FakeFileSystem::Below(const std::string& path) const {
  std::vector<std::string> found;
  const std::string p = Normal(path);
  auto add = [&](const std::string& q) {
    if (q == p || (q.size() > p.size() && q.compare(0, p.size(), p) == 0 &&
                   q[p.size()] == style_->separator)) {
      found.push_back(q);
    }
  };
  for (const std::string& d : dirs_) add(d);
  for (const auto& [f, bytes] : files_) add(f);
  for (const auto& [l, target] : links_) add(l);
  return found;
}

void FakeFileSystem::RemoveAll(const std::string& path, std::vector<std::string>* left) {
  log.push_back("remove " + path);
  std::vector<std::string> gone = Below(path);
  std::vector<std::string> stays;
  for (const std::string& q : gone) {
    if (held_open.count(q)) {
      stays.push_back(q);
      left->push_back(q);
    }
  }
  for (const std::string& q : gone) {
    bool holds = std::any_of(stays.begin(), stays.end(), [&](const std::string& k) {
      return k == q || (k.size() > q.size() && k.compare(0, q.size(), q) == 0 &&
                        k[q.size()] == style_->separator);
    });
    if (holds) continue;
    dirs_.erase(q);
    files_.erase(q);
    links_.erase(q);
    read_only.erase(q);
  }
}

platform::FileSystem::LinkCopy FakeFileSystem::CopyLink(const std::string& from,
                                                        const std::string& to) {
  log.push_back("link " + from + " " + to);
  if (!copies_links) return LinkCopy::kNotCopied;
  if (!HasLink(from) || !IsDir(Parent(Normal(to)))) return LinkCopy::kFailed;
  links_[Normal(to)] = links_[Normal(from)];
  return LinkCopy::kCopied;
}

bool FakeFileSystem::IsDir(const std::string& path) const { return dirs_.count(Normal(path)) > 0; }

bool FakeFileSystem::HasFile(const std::string& path) const {
  return files_.count(Normal(path)) > 0;
}

std::string FakeFileSystem::Contents(const std::string& path) const {
  auto it = files_.find(Normal(path));
  return it == files_.end() ? "" : it->second;
}

std::vector<std::string> FakeFileSystem::Children(const std::string& dir) const {
  std::vector<std::string> names;
  std::string d = Normal(dir);
  for (const std::string& p : dirs_) {
    if (p != d && Parent(p) == d) names.push_back(p.substr(p.find_last_of(style_->separator) + 1));
  }
  for (const auto& [p, bytes] : files_) {
    if (Parent(p) == d) names.push_back(p.substr(p.find_last_of(style_->separator) + 1));
  }
  for (const auto& [p, target] : links_) {
    if (Parent(p) == d) names.push_back(p.substr(p.find_last_of(style_->separator) + 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool FakeFileSystem::Exists(const std::string& path) {
  return !path.empty() && (IsDir(path) || HasFile(path) || HasLink(path));
}

bool FakeFileSystem::CanReadWrite(const std::string& path) {
  return Exists(path) && !read_only.count(Normal(path));
}

platform::FileSystem::MakeDirResult FakeFileSystem::MakeDir(const std::string& path, bool) {
  log.push_back("mkdir " + path);
  if (Exists(path)) return MakeDirResult::kAlreadyExists;
  std::string parent = Parent(Normal(path));
  if (mkdir_fails.count(Normal(path)) || (!parent.empty() && !IsDir(parent)) ||
      read_only.count(parent)) {
    return MakeDirResult::kFailed;
  }
  dirs_.insert(Normal(path));
  return MakeDirResult::kCreated;
}

bool FakeFileSystem::RemoveDir(const std::string& path) {
  log.push_back("rmdir " + path);
  if (!IsDir(path) || !Children(path).empty()) return false;
  dirs_.erase(Normal(path));
  return true;
}

bool FakeFileSystem::RemoveFile(const std::string& path) {
  log.push_back("rm " + path);
  if (!HasFile(path) || read_only.count(Normal(path)) || held_open.count(Normal(path)))
    return false;
  files_.erase(Normal(path));
  return true;
}

bool FakeFileSystem::CopyFileOverwriting(const std::string& from, const std::string& to) {
  log.push_back("copy " + from + " " + to);
  if (!HasFile(from) || copy_fails.count(Normal(from)) || !IsDir(Parent(Normal(to)))) return false;
  files_[Normal(to)] = Contents(from);
  read_only.erase(Normal(to));
  return true;
}

bool FakeFileSystem::MoveFileNoReplace(const std::string& from, const std::string& to) {
  log.push_back("move " + from + " " + to);
  if (!HasFile(from) || Exists(to) || !IsDir(Parent(Normal(to)))) return false;
  files_[Normal(to)] = Contents(from);
  files_.erase(Normal(from));
  return true;
}

bool FakeFileSystem::ListDirectory(const std::string& dir,
                                   std::vector<platform::DirEntry>* entries) {
  entries->clear();
  if (!IsDir(dir) || unlistable.count(Normal(dir))) return false;
  entries->push_back({".", true, false, false, {}});
  entries->push_back({"..", true, false, false, {}});
  for (const std::string& name : Children(dir)) {
    std::string path = Normal(dir) + style_->separator + name;
    entries->push_back({name, IsDir(path), HasLink(path), false, {}});
  }
  return true;
}

platform::FileSystem::ReadResult FakeFileSystem::ReadFile(const std::string& path,
                                                          std::string* bytes) {
  if (!HasFile(path)) return ReadResult::kCannotOpen;
  if (Contents(path).size() > platform::kMaxReadBytes) return ReadResult::kTooLarge;
  *bytes = Contents(path);
  return ReadResult::kOk;
}

bool FakeFileSystem::HashFile(const std::string& path, uint64_t* size,
                              std::array<uint8_t, 32>* sha256) {
  if (!HasFile(path)) return false;
  const std::string bytes = Contents(path);
  *size = bytes.size();
  *sha256 = manifest::Sha256Of(bytes);
  return true;
}

bool FakeFileSystem::ReadLink(const std::string& path, std::string* target) {
  auto link = links_.find(Normal(path));
  if (link == links_.end()) return false;
  *target = link->second;
  return true;
}

std::unique_ptr<platform::AppendFile> FakeFileSystem::OpenLogFile(const std::string& path,
                                                                  bool create,
                                                                  safetree::FileId* id) {
  std::string parent = Parent(Normal(path));
  if (!parent.empty() && !IsDir(parent)) return nullptr;
  if (read_only.count(Normal(path)) || read_only.count(parent) || HasLink(path)) return nullptr;
  const safetree::FileId now = {1, std::hash<std::string>()(Normal(path))};
  if (create) {
    if (HasFile(path)) return nullptr;
    AddFile(path, "");
    *id = now;
  } else if (!HasFile(path) || *id != now) {
    return nullptr;
  }
  return std::make_unique<FakeAppendFile>(this, path);
}

bool FakeFileSystem::Identify(const std::string& path, safetree::FileId* id) {
  if (!Exists(path) && !HasLink(path)) return false;
  *id = {1, std::hash<std::string>()(Normal(path))};
  return true;
}

bool FakeFileSystem::ResolvePath(const std::string& path, std::string* resolved) {
  if (!Exists(path)) return false;
  *resolved = Normal(path);
  return true;
}

bool FakeFileSystem::FullPath(const std::string& path, std::string* full) {
  if (full_path_fails) return false;
  bool absolute = style_->drive_letters
                      ? (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\')
                      : !path.empty() && path[0] == '/';
  *full = absolute ? path : cwd + style_->separator + path;
  return true;
}

bool FakeFileSystem::SetWorkingDirectory(const std::string& path) {
  log.push_back("chdir " + path);
  if (!IsDir(path)) return false;
  cwd = path;
  return true;
}

bool FakeFileSystem::FreeSpaceKb(const std::string&, uint64_t* kb) {
  *kb = 1 << 30;
  return true;
}

namespace {

// Writes below a root through the fake's own calls, refusing any path that meets a link
// below the root, as the real writers do.
class FakeTreeWriter : public platform::TreeWriter {
 public:
  FakeTreeWriter(FakeFileSystem* fs, std::string root, char sep)
      : fs_(fs), root_(std::move(root)), sep_(sep) {}

  bool MakeDirs(const std::string& rel) override {
    if (rel.empty()) return true;
    for (size_t end = rel.find('/');; end = rel.find('/', end + 1)) {
      std::string path = Path(rel.substr(0, end));
      if (fs_->HasLink(path) || fs_->HasFile(path)) return false;
      if (!fs_->IsDir(path) && fs_->MakeDir(path, false) == FakeFileSystem::MakeDirResult::kFailed)
        return false;
      if (end == std::string::npos) return true;
    }
  }
  bool CopyRegularFile(const std::string& from, const std::string& rel, const Expected* expected,
                       std::string* mismatch) override {
    if (!MakeDirs(Parent(rel))) return false;
    if (fs_->HasLink(Path(rel))) fs_->RemoveLink(Path(rel));
    std::string bytes;
    if (expected != nullptr &&
        fs_->ReadFile(from, &bytes) == platform::FileSystem::ReadResult::kOk &&
        !Matches(*expected, bytes.size(), manifest::Sha256Of(bytes), mismatch)) {
      return false;
    }
    return fs_->CopyFileOverwriting(from, Path(rel));
  }
  platform::FileSystem::LinkCopy CopyLink(const std::string& from, const std::string& rel,
                                          const std::string*) override {
    if (!MakeDirs(Parent(rel))) return platform::FileSystem::LinkCopy::kFailed;
    return fs_->CopyLink(from, Path(rel));
  }
  bool List(const std::string& rel, std::vector<platform::DirEntry>* entries) override {
    if (!fs_->ListDirectory(Path(rel), entries)) return false;
    std::erase_if(*entries,
                  [](const platform::DirEntry& e) { return e.name == "." || e.name == ".."; });
    for (platform::DirEntry& e : *entries) e.id = Id(Below(rel, e.name));
    return true;
  }
  bool Find(const std::string& rel, platform::DirEntry* found) override {
    if (!fs_->Exists(Path(rel)) && !fs_->HasLink(Path(rel))) return false;
    *found = {rel.substr(rel.find_last_of('/') + 1), fs_->IsDir(Path(rel)), fs_->HasLink(Path(rel)),
              false, Id(rel)};
    return true;
  }
  void Remove(const std::string& rel, std::vector<std::string>* left) override {
    if (!rel.empty()) fs_->RemoveAll(Path(rel), left);
  }
  void MakeWritable(const std::string& rel) override {
    fs_->log.push_back("writable " + Path(rel));
    for (const std::string& q : fs_->Below(Path(rel))) fs_->read_only.erase(q);
  }
  safetree::FileId RootId() override { return {1, std::hash<std::string>()(root_)}; }
  bool RemoveRoot(const std::string& named, std::string* why) override {
    if (fs_->Normal(named) != root_ || !fs_->IsDir(root_) || !fs_->RemoveDir(root_)) {
      *why = "it cannot be removed";
      return false;
    }
    return true;
  }

 private:
  static std::string Parent(const std::string& rel) {
    size_t cut = rel.find_last_of('/');
    return cut == std::string::npos ? "" : rel.substr(0, cut);
  }
  static std::string Below(const std::string& rel, const std::string& name) {
    return rel.empty() ? name : rel + "/" + name;
  }
  // One identity per path of this tree: the double never replaces an entry in place.
  safetree::FileId Id(const std::string& rel) const {
    return {1, std::hash<std::string>()(fs_->Normal(Path(rel)))};
  }
  std::string Path(const std::string& rel) const {
    std::string path = root_ + sep_ + rel;
    std::replace(path.begin() + static_cast<long>(root_.size()), path.end(), '/', sep_);
    return path;
  }
  FakeFileSystem* fs_;
  std::string root_;
  char sep_;
};

}  // namespace

std::unique_ptr<platform::TreeWriter> FakeFileSystem::OpenTreeWriter(const std::string& root,
                                                                     bool make) {
  if (!make) {
    if (!IsDir(root) || HasLink(root)) return nullptr;
    return std::make_unique<FakeTreeWriter>(this, Normal(root), style_->separator);
  }
  // The root and its parents are made as named, as the real writers make them.
  std::string path = Normal(root);
  std::vector<std::string> missing;
  while (!path.empty() && !IsDir(path)) {
    missing.push_back(path);
    if (Parent(path) == path) break;
    path = Parent(path);
  }
  for (size_t i = missing.size(); i-- > 0;) {
    if (HasFile(missing[i]) || MakeDir(missing[i], false) == MakeDirResult::kFailed) return nullptr;
  }
  return std::make_unique<FakeTreeWriter>(this, Normal(root), style_->separator);
}

std::unique_ptr<platform::TreeWriter> FakeFileSystem::HoldTree(const std::string& root,
                                                               std::string* why) {
  if (!IsDir(root) || HasLink(root)) {
    *why = root + " is not a directory, or is a link";
    return nullptr;
  }
  auto other = held_as.find(Normal(root));
  return std::make_unique<FakeTreeWriter>(
      this, other != held_as.end() ? other->second : Normal(root), style_->separator);
}

// --- FakeRegistry ----------------------------------------------------------------------

void FakeRegistry::SetValue(const std::string& key, const std::string& name,
                            const std::string& value) {
  keys_[Lower(key)][Lower(name)] = value;
}

void FakeRegistry::AddKey(const std::string& key) { keys_[Lower(key)]; }

bool FakeRegistry::HasKey(const std::string& key) const { return keys_.count(Lower(key)) > 0; }

platform::Registry::ReadResult FakeRegistry::ReadValue(const std::string& key,
                                                       const std::string& name,
                                                       std::string* value) {
  auto k = keys_.find(Lower(key));
  if (k == keys_.end()) return ReadResult::kNoKey;
  auto v = k->second.find(Lower(name));
  if (v == k->second.end()) return ReadResult::kNoValue;
  *value = v->second;
  return ReadResult::kOk;
}

platform::Registry::ReadResult FakeRegistry::ReadDword(const std::string& key,
                                                       const std::string& name, uint32_t* value) {
  std::string text;
  ReadResult r = ReadValue(key, name, &text);
  if (r == ReadResult::kOk) *value = static_cast<uint32_t>(std::stoul(text));
  return r;
}

bool FakeRegistry::OpenForWrite(const std::string& key) {
  log.push_back("open " + key);
  return !write_denied && HasKey(key);
}

bool FakeRegistry::SetStringValue(const std::string& key, const std::string& name,
                                  const std::string& value) {
  log.push_back("set " + key + "\\" + name);
  if (set_value_fails) return false;
  SetValue(key, name, value);
  return true;
}

bool FakeRegistry::DeleteValue(const std::string& key, const std::string& name) {
  log.push_back("delete value " + key + "\\" + name);
  return keys_[Lower(key)].erase(Lower(name)) > 0;
}

bool FakeRegistry::CreateKey(const std::string& key, const std::string&) {
  log.push_back("create " + key);
  if (create_key_fails) return false;
  AddKey(key);
  return true;
}

bool FakeRegistry::DeleteKey(const std::string& key) {
  log.push_back("delete key " + key);
  return keys_.erase(Lower(key)) > 0;
}

// --- FakeConsole -----------------------------------------------------------------------

void FakeConsole::Create(const std::string&) {
  created = true;
  have_output = true;
}

void FakeConsole::Print(const std::string& utf8) {
  if (have_output) printed += utf8;
}

void FakeConsole::ShowMessageBox(const std::string& title, const std::string& text) {
  boxes.push_back(title + "|" + text);
}

int FakeConsole::ReadChar() {
  ++chars_read;
  if (input_pos >= input.size()) return -1;
  return static_cast<unsigned char>(input[input_pos++]);
}

// --- FakeProcesses ---------------------------------------------------------------------

std::unique_ptr<platform::ChildProcess> FakeProcesses::Start(const std::string& command_line,
                                                             bool hide, uint32_t* error) {
  started.push_back(command_line);
  hidden.push_back(hide);
  if (start_error != 0) {
    *error = start_error;
    return nullptr;
  }
  return std::make_unique<FakeChild>(this);
}

// --- FakeSystem ------------------------------------------------------------------------

bool FakeSystem::ModulePath(std::string* path, uint32_t* error) {
  if (module_path_fails) {
    *error = 5;
    return false;
  }
  *path = module_path;
  return true;
}

std::optional<std::string> FakeSystem::GetEnv(const std::string& name) {
  auto it = env.find(name);
  if (it == env.end()) return std::nullopt;
  return it->second;
}

void FakeSystem::UserLocale(std::string* lang, std::string* ctry) {
  *lang = language;
  *ctry = country;
}

bool FakeSystem::IsAnsiLetter(unsigned char c) { return std::isalpha(c) != 0; }

std::string FakeSystem::ProfileString(const std::string& section, const std::string& key,
                                      const std::string& default_value, const std::string& file) {
  profile_keys_read.insert(section + "/" + key);
  std::string text;
  if (files_->ReadFile(file, &text) != platform::FileSystem::ReadResult::kOk) {
    return default_value;
  }
  return platform::ReadProfileString(text, section, key, default_value);
}

// --- FakePlatform ----------------------------------------------------------------------

FakePlatform::FakePlatform(const platform::PathStyle* style)
    : style_(style), files_(style), system_(&files_) {
  NewRun();
  const char sep = style_->separator;
  std::string root = style_->drive_letters ? "C:" : "";
  system_.module_path = root + sep + "media" + sep + "disk1" + sep + "setup.exe";
  files_.AddDir(root.empty() ? std::string(1, sep) : root);
  files_.AddFile(system_.module_path, "MZ");
  files_.cwd = root + sep + "media" + sep + "disk1";
}

void FakePlatform::NewRun() {
  scope_.reset();
  run_ = std::make_unique<RunContext>(Doubles());
  scope_.emplace(run_.get());
}

platform::Platform FakePlatform::Doubles() {
  return {.style = style_,
          .files = &files_,
          .processes = &processes_,
          .registry = &registry_,
          .console = &console_,
          .system = &system_};
}

}  // namespace zorvex::testing
