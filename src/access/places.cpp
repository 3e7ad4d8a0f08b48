#include "access/places.h"

#include <algorithm>

#include "paths/paths.h"
#include "platform/platform.h"
#include "run/run_context.h"
#include "safetree/tree.h"

namespace zorvex::access {

namespace {

Places& P() { return CurrentRun().places; }

bool BelowAny(const std::vector<std::string>& keys,
              const std::vector<std::vector<std::string>>& dirs) {
  return std::any_of(dirs.begin(), dirs.end(),
                     [&](const std::vector<std::string>& dir) { return IsSameOrBelow(keys, dir); });
}

// The directory holding `dir` (absolute), as the target writes it: "/" and "C:\" end.
std::string ParentOf(const std::string& dir) {
  const platform::PathStyle& style = *platform::Os().style;
  std::string parent;
  paths::StripLastComponent(dir, &parent);
  if (parent.empty()) return std::string(1, style.separator);
  if (style.drive_letters && parent.size() == 2 && parent[1] == ':') parent += style.separator;
  return parent;
}

// How many of `levels` ancestors of the absolute directory `full` lie on its own volume:
// never above the root of its file system (a mount point), drive or share.
size_t LevelsOnItsVolume(const std::string& full, size_t levels) {
  const bool windows = platform::Os().style->drive_letters;
  const size_t parts = KeysOf(full).size();
  // "C:" is the drive's root, and "\\server\share" the share's.
  const size_t floor = !windows ? 0 : full.rfind("\\\\", 0) == 0 ? 2 : 1;
  levels = std::min(levels, parts > floor ? parts - floor : 0);
  platform::FileSystem& files = *platform::Os().files;
  safetree::FileId here;
  if (!files.Identify(full, &here)) return levels;
  std::string dir = full;
  for (size_t up = 0; up < levels; ++up) {
    dir = ParentOf(dir);
    safetree::FileId id;
    if (!files.Identify(dir, &id) || id.volume != here.volume) return up;
  }
  return levels;
}

}  // namespace

std::vector<std::string> KeysOf(const std::string& path) {
  const bool windows = platform::Os().style->drive_letters;
  std::string full;
  paths::GetFullPath(&full, path);
  std::vector<std::string> keys;
  std::string part;
  auto flush = [&] {
    if (part == "..") {
      if (!keys.empty()) keys.pop_back();
    } else if (!part.empty() && part != ".") {
      keys.push_back(safetree::NameKey(part));
    }
    part.clear();
  };
  for (char c : full) {
    if (c == '/' || (windows && c == '\\')) {
      flush();
    } else {
      part += c;
    }
  }
  flush();
  return keys;
}

bool IsSameOrBelow(const std::vector<std::string>& path, const std::vector<std::string>& dir) {
  return path.size() >= dir.size() && std::equal(dir.begin(), dir.end(), path.begin());
}

size_t DrawMediumBorder(const std::string& launcher_dir, const std::vector<std::string>& beside,
                        size_t levels_up) {
  Places& p = P();
  std::string full;
  paths::GetFullPath(&full, launcher_dir);
  const std::vector<std::string> launcher = KeysOf(full);
  const size_t levels = LevelsOnItsVolume(full, levels_up);
  p.side.assign(launcher.begin(), launcher.end() - static_cast<long>(levels));
  p.medium = {{launcher, full}};
  for (const std::string& rel : beside) {
    std::string shown = full;
    for (size_t from = 0; from < rel.size();) {
      size_t end = std::min(rel.find('/', from), rel.size());
      paths::AppendPath(&shown, rel.substr(from, end - from));
      from = end + 1;
    }
    std::vector<std::string> keys = KeysOf(shown);
    // Beyond the side's root a place is the system's, not the medium's.
    if (IsSameOrBelow(keys, p.side)) p.medium.push_back({keys, shown});
  }
  p.medium_known = true;
  return levels;
}

void AddRunOwn(const std::string& dir) {
  if (!dir.empty()) P().run_own.push_back(KeysOf(dir));
}

void AddUserChoice(const std::string& path) {
  if (!path.empty()) P().user_choices.push_back(KeysOf(path));
}

Place Classify(const std::string& path) { return ClassifyKeys(KeysOf(path)); }

Place ClassifyKeys(const std::vector<std::string>& keys) {
  const Places& p = P();
  for (const MediumPlace& place : p.medium) {
    if (IsSameOrBelow(keys, place.keys)) return Place::kMedium;
  }
  if (BelowAny(keys, p.run_own)) return Place::kRunOwn;
  if (BelowAny(keys, p.user_choices)) return Place::kUserChoice;
  if (p.medium_known && IsSameOrBelow(keys, p.side)) return Place::kMedium;
  return Place::kSystem;
}

bool MeetsTheMedium(const std::string& path, bool or_holds, std::string* place) {
  std::vector<std::string> keys = KeysOf(path);
  for (const MediumPlace& medium : P().medium) {
    if (IsSameOrBelow(keys, medium.keys) || (or_holds && IsSameOrBelow(medium.keys, keys))) {
      *place = medium.shown;
      return true;
    }
  }
  return false;
}

}  // namespace zorvex::access
