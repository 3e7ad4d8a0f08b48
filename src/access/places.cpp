#include "access/places.h"

#include <algorithm>

#include "paths/paths.h"
#include "platform/platform.h"
#include "safetree/tree.h"

namespace zorvex::access {

namespace {

struct Places {
  bool medium_known = false;
  std::vector<std::string> medium_root;
  std::vector<std::vector<std::string>> run_own;
  std::vector<std::vector<std::string>> user_choices;
};

Places& P() {
  static Places places;
  return places;
}

bool BelowAny(const std::vector<std::string>& keys,
              const std::vector<std::vector<std::string>>& dirs) {
  return std::any_of(dirs.begin(), dirs.end(),
                     [&](const std::vector<std::string>& dir) { return IsSameOrBelow(keys, dir); });
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

void ForgetPlaces() { P() = Places(); }

void SetMediumSide(const std::string& launcher_dir, size_t levels_up) {
  std::vector<std::string> root = KeysOf(launcher_dir);
  root.resize(root.size() > levels_up ? root.size() - levels_up : 0);
  P().medium_root = root;
  P().medium_known = true;
}

void AddRunOwn(const std::string& dir) {
  if (!dir.empty()) P().run_own.push_back(KeysOf(dir));
}

void AddUserChoice(const std::string& path) {
  if (!path.empty()) P().user_choices.push_back(KeysOf(path));
}

Place Classify(const std::string& path) {
  const Places& p = P();
  std::vector<std::string> keys = KeysOf(path);
  if (BelowAny(keys, p.run_own)) return Place::kRunOwn;
  if (BelowAny(keys, p.user_choices)) return Place::kUserChoice;
  if (p.medium_known && IsSameOrBelow(keys, p.medium_root)) return Place::kMedium;
  return Place::kSystem;
}

}  // namespace zorvex::access
