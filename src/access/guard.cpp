#include "access/guard.h"

#include <map>
#include <memory>
#include <optional>
#include <set>

#include "access/places.h"
#include "messages/catalogue.h"
#include "paths/paths.h"
#include "platform/forwarding.h"
#include "platform/platform.h"
#include "platform/profile_string.h"
#include "run/run_context.h"
#include "safetree/tree.h"

namespace zorvex::access {

using manifest::Manifest;
using manifest::Sha256Of;
using manifest::ToHex;

namespace {

std::vector<std::string> Split(const std::string& path, bool windows) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '/' || (windows && c == '\\')) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string KeyOf(const std::vector<std::string>& parts, size_t from = 0) {
  std::string key;
  for (size_t i = from; i < parts.size(); ++i) {
    if (!key.empty()) key += '/';
    key += parts[i] == ".." ? parts[i] : safetree::NameKey(parts[i]);
  }
  return key;
}

platform::TreeWriter::Expected ExpectedOf(const Entry& e) { return {e.size, e.sha256}; }

GuardState& S() { return CurrentRun().guard; }

std::string FullPathOf(const std::string& path) {
  std::string full;
  paths::GetFullPath(&full, path);
  return full;
}

// The key of `keys` (a path's parts) relative to the launcher's directory, with ".." for
// each level above it; false for the launcher's directory and its parents themselves, and
// for what lies beyond the medium's side.
bool RelativeKey(const std::vector<std::string>& keys, std::string* key) {
  GuardState& s = S();
  size_t common = 0;
  while (common < keys.size() && common < s.launcher.size() && keys[common] == s.launcher[common])
    ++common;
  const size_t up = s.launcher.size() - common;
  if (common == keys.size() || up > s.levels) return false;
  key->clear();
  for (size_t i = 0; i < up; ++i) *key += i == 0 ? ".." : "/..";
  for (size_t i = common; i < keys.size(); ++i) *key += (key->empty() ? "" : "/") + keys[i];
  return true;
}

// The key of a path the manifest may speak of: listed, or on the medium's side; false for
// whatever is not the medium's.
bool MediumKey(const std::string& path, std::string* key) {
  Lookup l = LookUp(path);
  *key = l.key;
  return l.verdict != Verdict::kNotOnMedium;
}

// The verified bytes of a listed file, read once: later reads get the same bytes, so that
// the parameter file read key by key never meets another text than the one checked.
platform::FileSystem::ReadResult ReadVerified(platform::FileSystem* inner, const std::string& path,
                                              std::string* bytes) {
  GuardState& s = S();
  std::string key;
  if (!MediumKey(path, &key)) return inner->ReadFile(path, bytes);
  auto cached = s.verified.find(key);
  if (cached != s.verified.end()) {
    *bytes = cached->second;
    return platform::FileSystem::ReadResult::kOk;
  }
  auto listed = s.by_key.find(key);
  const std::string full = FullPathOf(path);
  if (listed == s.by_key.end() || listed->second->link) {
    // Nothing of the medium's side that the manifest does not list is read: a file beside
    // the launcher's directory is as much the medium's as one inside it.
    if (!inner->Exists(path)) return platform::FileSystem::ReadResult::kCannotOpen;
    RefuseMedium(UnlistedFile(full));
    return platform::FileSystem::ReadResult::kCannotOpen;
  }
  platform::FileSystem::ReadResult r = inner->ReadFile(path, bytes);
  if (r != platform::FileSystem::ReadResult::kOk) {
    if (!inner->Exists(path)) RefuseMedium(MissingFile(full));
    return r;
  }
  std::string how;
  if (!platform::TreeWriter::Matches(ExpectedOf(*listed->second), bytes->size(), Sha256Of(*bytes),
                                     &how)) {
    RefuseMedium(ChangedFile(full, how));
    bytes->clear();
    return platform::FileSystem::ReadResult::kCannotOpen;
  }
  s.verified[key] = *bytes;
  return r;
}

// The run's copies check what they write: the manifest's size and digest travel with
// each copy of a medium file, and an unlisted one is refused before anything is written.
class GuardedTree : public platform::ForwardingTreeWriter {
 public:
  using ForwardingTreeWriter::ForwardingTreeWriter;
  bool CopyRegularFile(const std::string& from, const std::string& rel, const Expected* expected,
                       std::string* mismatch) override {
    Lookup l = LookUp(from);
    if (l.verdict == Verdict::kNotOnMedium)
      return inner()->CopyRegularFile(from, rel, expected, mismatch);
    if (l.verdict != Verdict::kListed || l.entry->link) {
      RefuseMedium(UnlistedFile(FullPathOf(from)));
      return false;
    }
    Expected e = ExpectedOf(*l.entry);
    std::string how;
    if (inner()->CopyRegularFile(from, rel, &e, &how)) return true;
    // A copy that could not be written (a full disk) is not the medium's fault: the
    // caller says what failed.
    if (!how.empty()) {
      RefuseMedium(ChangedFile(FullPathOf(from), how));
    } else if (!S().native.files->Exists(from)) {
      RefuseMedium(MissingFile(FullPathOf(from)));
    }
    return false;
  }
  platform::FileSystem::LinkCopy CopyLink(const std::string& from, const std::string& rel,
                                          const std::string* expected_target) override {
    Lookup l = LookUp(from);
    if (l.verdict == Verdict::kNotOnMedium) return inner()->CopyLink(from, rel, expected_target);
    if (l.verdict != Verdict::kListed || !l.entry->link) {
      RefuseMedium(UnlistedFile(FullPathOf(from)));
      return platform::FileSystem::LinkCopy::kFailed;
    }
    platform::FileSystem::LinkCopy r = inner()->CopyLink(from, rel, &l.entry->target);
    if (r == platform::FileSystem::LinkCopy::kFailed) {
      RefuseMedium(ChangedFile(FullPathOf(from),
                               "a link to another target than " + l.entry->target + ", or none"));
    }
    return r;
  }
};

// Every reader of the run reaches the medium through this file system.
class GuardedFiles : public platform::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  // A listed file that is missing when the run looks for it ends the run: the run would
  // go on to another place, where nothing is listed.
  bool Exists(const std::string& p) override { return Present(p) && inner()->Exists(p); }
  bool CanReadWrite(const std::string& p) override {
    return Present(p) && inner()->CanReadWrite(p);
  }
  bool IsDirectory(const std::string& p) override { return Present(p) && inner()->IsDirectory(p); }
  // Whole-file copies and link copies outside a tree read the medium unchecked: nothing
  // of the medium may take that way.
  LinkCopy CopyLink(const std::string& from, const std::string& to) override {
    if (LookUp(from).verdict != Verdict::kNotOnMedium) {
      RefuseMedium(UnlistedFile(FullPathOf(from)));
      return LinkCopy::kFailed;
    }
    return inner()->CopyLink(from, to);
  }
  bool CopyFileOverwriting(const std::string& from, const std::string& to) override {
    if (LookUp(from).verdict != Verdict::kNotOnMedium) {
      RefuseMedium(UnlistedFile(FullPathOf(from)));
      return false;
    }
    return inner()->CopyFileOverwriting(from, to);
  }
  ReadResult ReadFile(const std::string& path, std::string* bytes) override {
    return ReadVerified(inner(), path, bytes);
  }
  std::unique_ptr<platform::TreeWriter> OpenTreeWriter(const std::string& root,
                                                       bool make) override {
    return Guarded(inner()->OpenTreeWriter(root, make));
  }
  std::unique_ptr<platform::TreeWriter> HoldTree(const std::string& root,
                                                 std::string* why) override {
    return Guarded(inner()->HoldTree(root, why));
  }

 private:
  static std::unique_ptr<platform::TreeWriter> Guarded(std::unique_ptr<platform::TreeWriter> t) {
    if (!t) return nullptr;
    return std::make_unique<GuardedTree>(std::move(t));
  }
  // False after refusing a listed file or link that is not there.
  bool Present(const std::string& p) {
    Lookup l = LookUp(p);
    if (l.verdict != Verdict::kListed || inner()->Exists(p) || inner()->IsLink(p)) return true;
    RefuseMedium(MissingFile(FullPathOf(p)));
    return false;
  }
};

// The parameter file is read key by key; on the medium, from the checked bytes, by the
// profile call's own reading rules.
class GuardedSystem : public platform::ForwardingSystem {
 public:
  using ForwardingSystem::ForwardingSystem;
  std::string ProfileString(const std::string& section, const std::string& key,
                            const std::string& default_value, const std::string& file) override {
    if (LookUp(file).verdict == Verdict::kNotOnMedium)
      return ForwardingSystem::ProfileString(section, key, default_value, file);
    std::string text;
    if (!platform::ReadWholeFile(file, &text)) return default_value;
    return platform::ReadProfileString(text, section, key, default_value);
  }
};

// Checks a listed file against its entry from its bytes now, through the platform behind
// the guard; false after refusing it.
bool HashedAsListed(const std::string& path, const Lookup& l) {
  uint64_t size = 0;
  Sha256Digest digest;
  std::string how;
  if (!S().native.files->HashFile(path, &size, &digest)) {
    RefuseMedium(MissingFile(FullPathOf(path)));
    return false;
  }
  if (!platform::TreeWriter::Matches(ExpectedOf(*l.entry), size, digest, &how)) {
    RefuseMedium(ChangedFile(FullPathOf(path), how));
    return false;
  }
  S().hashed.insert(l.key);
  return true;
}

}  // namespace

Refusal ChangedFile(const std::string& path, const std::string& how) {
  return {"S_ERMEDIUM_CHANGED", {path, how}};
}

Refusal UnlistedFile(const std::string& path) { return {"S_ERMEDIUM_UNLISTED", {path}}; }

Refusal MissingFile(const std::string& path) { return {"S_ERMEDIUM_MISSING", {path}}; }

namespace {

// The manifest beside the launcher, read and parsed once its digest is the one bound into
// the launcher; false with *error otherwise.
bool ReadVouchedManifest(const std::string& launcher_dir, const Sha256Digest& bound,
                         Manifest* manifest, Refusal* error) {
  const std::string path =
      launcher_dir + platform::Os().style->separator + std::string(manifest::kManifestName);
  std::string text;
  if (!platform::ReadWholeFile(path, &text)) {
    *error = {"S_ERMEDIUM_NO_MANIFEST", {path}};
    return false;
  }
  Sha256Digest digest = Sha256Of(text);
  if (digest != bound) {
    *error = ChangedFile(
        path, "SHA-256 " + ToHex(digest) + ", where the launcher vouches for " + ToHex(bound));
    return false;
  }
  std::string why;
  if (!manifest::Parse(text, manifest, &why)) {
    *error = {"S_ERMEDIUM_BAD_MANIFEST", {why}};
    return false;
  }
  return true;
}

}  // namespace

bool GuardMedium(const std::string& launcher_dir, const std::string& program_name,
                 const Sha256Digest& bound, platform::Platform* guarded, Refusal* error) {
  GuardState& s = S();
  s.windows = platform::Os().style->drive_letters;
  s.launcher_dir = FullPathOf(launcher_dir);
  if (!ReadVouchedManifest(s.launcher_dir, bound, &s.manifest, error)) return false;
  s.launcher = KeysOf(s.launcher_dir);
  s.own = {safetree::NameKey(program_name), safetree::NameKey(manifest::kManifestName)};
  s.levels = kLevelsTheRunLooksUp;
  for (const auto& [name, entry] : s.manifest) {
    std::vector<std::string> parts = Split(name, false);
    size_t up = 0;
    while (parts[up] == "..") ++up;
    s.levels = std::max(s.levels, up);
    const std::string key = KeyOf(parts);
    s.by_key[key] = &entry;
    for (size_t cut = key.find_last_of('/'); cut != std::string::npos && cut > 0;
         cut = key.find_last_of('/', cut - 1)) {
      s.dirs.insert(key.substr(0, cut));
    }
  }
  // The launcher's own directory can be reached only from within it.
  if (s.levels > s.launcher.size()) {
    if (s.levels > kLevelsTheRunLooksUp) {
      *error = {"S_ERMEDIUM_ABOVE_ROOT", {}};
      return false;
    }
    s.levels = s.launcher.size();
  }
  // Everything of the medium's side is the medium's, listed or not: the places the run
  // looks for on its own (the parameter file beside the launcher's directory, images, the
  // components root) are refused unless the manifest lists what is there. Beside the
  // launcher's directory what the run looks at and what the manifest lists are the medium's
  // whatever else names them.
  std::vector<std::string> beside = kPlacesTheRunLooksAt;
  for (const auto& [name, entry] : s.manifest) {
    size_t top = 0;
    while (name.compare(top, 3, "../") == 0) top += 3;
    if (top == 0) continue;
    const size_t end = name.find('/', top);
    beside.push_back(end == std::string::npos ? name : name.substr(0, end));
  }
  DrawMediumBorder(s.launcher_dir, beside, s.levels);
  s.native = platform::Os();
  s.files = std::make_unique<GuardedFiles>(s.native.files);
  s.system = std::make_unique<GuardedSystem>(s.native.system);
  *guarded = s.native;
  guarded->files = s.files.get();
  guarded->system = s.system.get();
  s.active = true;
  return true;
}

bool MediumGuarded() { return S().active; }

Lookup LookUp(const std::string& path) {
  Lookup l;
  GuardState& s = S();
  std::string key;
  // The path's keys, made once from its text: the manifest's key and the class are both
  // taken from them.
  const std::vector<std::string> keys = s.active ? KeysOf(path) : std::vector<std::string>{};
  if (!s.active || !RelativeKey(keys, &key) || s.own.count(key) > 0) return l;
  // A listed file is checked wherever the run meets it, also where a user's choice or a
  // directory of the run's own names it.
  if (auto found = s.by_key.find(key); found != s.by_key.end()) {
    l.verdict = Verdict::kListed;
    l.entry = found->second;
    l.key = key;
    return l;
  }
  if (ClassifyKeys(keys) != Place::kMedium) return l;
  l.verdict = s.dirs.count(key) > 0 ? Verdict::kDirectory : Verdict::kUnlisted;
  l.key = key;
  return l;
}

bool ForJava(const std::string& path, bool class_path_entry, bool staged) {
  GuardState& s = S();
  if (!s.active || path.empty()) return true;
  Lookup l = LookUp(path);
  switch (l.verdict) {
    case Verdict::kNotOnMedium:
      return true;
    case Verdict::kDirectory:
      return !(class_path_entry && staged);
    case Verdict::kUnlisted:
      if (s.native.files->Exists(path) || s.native.files->IsLink(path)) {
        RefuseMedium(UnlistedFile(FullPathOf(path)));
      }
      return !class_path_entry;
    case Verdict::kListed:
      break;
  }
  if (class_path_entry && staged) return false;
  // Java reads it in place, after this check: once more, from its bytes now.
  const std::string& key = l.key;
  if (l.entry->link || s.hashed.count(key) > 0) return true;
  HashedAsListed(path, l);
  return true;
}

void RefuseMedium(const Refusal& refusal) {
  if (!S().refusal) S().refusal = refusal;
}

bool MediumRefused() { return S().refusal.has_value(); }

std::string MediumRefusal() {
  const std::optional<Refusal>& r = S().refusal;
  return r ? messages::FormatMessageText(r->key, r->args) : "";
}

std::string MediumRefusalForLog() {
  const std::optional<Refusal>& r = S().refusal;
  return r ? messages::FormatLogMessageText(r->key, r->args) : "";
}

std::vector<std::pair<std::string, const Entry*>> ListedFilesIn(const std::string& dir,
                                                                const std::string& suffix) {
  std::vector<std::pair<std::string, const Entry*>> files;
  std::string key;
  GuardState& s = S();
  if (!s.active || !MediumKey(dir + platform::Os().style->separator + "x", &key)) return files;
  const std::string prefix = key.substr(0, key.size() - 1);
  const std::string suffix_key = safetree::NameKey("x" + suffix).substr(1);
  for (const auto& [name, entry] : s.manifest) {
    const std::string k = KeyOf(Split(name, false));
    if (k.compare(0, prefix.size(), prefix) != 0 || entry.link) continue;
    const std::string leaf = name.substr(name.find_last_of('/') + 1);
    if (k.find('/', prefix.size()) != std::string::npos) continue;
    const std::string leaf_key = safetree::NameKey(leaf);
    if (leaf_key.size() < suffix_key.size() ||
        leaf_key.compare(leaf_key.size() - suffix_key.size(), suffix_key.size(), suffix_key) != 0)
      continue;
    files.emplace_back(leaf, &entry);
  }
  return files;
}

std::vector<std::string> ListedBelow(const std::string& dir) {
  std::vector<std::string> below;
  std::string key;
  if (!S().active || !MediumKey(dir + platform::Os().style->separator + "x", &key)) return below;
  const std::string prefix = key.substr(0, key.size() - 1);
  const size_t depth = Split(prefix, false).size();
  for (const auto& [name, entry] : S().manifest) {
    const std::vector<std::string> parts = Split(name, false);
    if (KeyOf(parts).compare(0, prefix.size(), prefix) != 0) continue;
    std::string sub;
    for (size_t i = depth; i < parts.size(); ++i) sub += (sub.empty() ? "" : "/") + parts[i];
    below.push_back(sub);
  }
  return below;
}

namespace {

// Checks everything below the directory `dir` of the medium, never descending into a
// link; false after refusing the first difference.
bool VerifyBelow(const std::string& dir) {
  platform::FileSystem& files = *S().native.files;
  std::vector<platform::DirEntry> entries;
  if (!files.ListDirectory(dir, &entries)) {
    RefuseMedium(MissingFile(dir));
    return false;
  }
  for (const platform::DirEntry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    const std::string path = dir + platform::Os().style->separator + e.name;
    if (e.is_directory) {
      if (!VerifyBelow(path)) return false;
      continue;
    }
    Lookup l = LookUp(path);
    if (l.verdict == Verdict::kNotOnMedium) continue;
    if (l.verdict != Verdict::kListed || l.entry->link != e.is_link) {
      RefuseMedium(UnlistedFile(FullPathOf(path)));
      return false;
    }
    if (!l.entry->link) {
      if (!HashedAsListed(path, l)) return false;
      continue;
    }
    std::string target;
    if (!files.ReadLink(path, &target) || target != l.entry->target) {
      RefuseMedium(ChangedFile(FullPathOf(path), "a link to another target"));
      return false;
    }
  }
  return true;
}

}  // namespace

bool VerifyTrees(const std::vector<std::string>& dirs) {
  platform::FileSystem& files = *S().native.files;
  for (const std::string& dir : dirs) {
    // What the manifest lists below the directory must be there.
    std::string key;
    if (!MediumKey(dir + platform::Os().style->separator + "x", &key)) continue;
    const std::string prefix = key.substr(0, key.size() - 1);
    for (const auto& [name, entry] : S().manifest) {
      if (KeyOf(Split(name, false)).compare(0, prefix.size(), prefix) != 0) continue;
      std::string path = S().launcher_dir;
      for (const std::string& part : Split(name, false))
        path += platform::Os().style->separator + part;
      if (!files.Exists(path) && !files.IsLink(path)) {
        RefuseMedium(MissingFile(FullPathOf(path)));
        return false;
      }
    }
    if (!VerifyBelow(dir)) return false;
  }
  return true;
}

}  // namespace zorvex::access
