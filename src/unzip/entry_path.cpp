#include "unzip/entry_path.h"

#include <cctype>

#include "safetree/tree.h"

namespace zorvex::unzip {

namespace {

bool IsSeparator(char c, bool windows) { return c == '/' || (windows && c == '\\'); }

bool IsDrive(const std::string& name) {
  return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

}  // namespace

SafePath MakeSafePath(const std::string& name, bool windows, bool backslash) {
  SafePath path;
  const bool splits = windows || backslash;
  std::string rest = name;
  if (windows && IsDrive(rest)) {
    rest.erase(0, 2);
    path.stripped_absolute = true;
  }
  if (!rest.empty() && IsSeparator(rest[0], splits)) path.stripped_absolute = true;
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t end = pos;
    while (end < rest.size() && !IsSeparator(rest[end], splits)) ++end;
    std::string part = rest.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      path.skipped_parent = true;
      continue;
    }
    if (windows && safetree::MakeWindowsName(&part)) path.renamed = true;
    path.components.push_back(part);
  }
  return path;
}

bool LinkStaysInside(const std::vector<std::string>& link, const std::string& target) {
  if (target.empty() || target[0] == '/') return false;
  // The link's own directory, a real directory, is where its target is resolved from.
  // ".." may only lead: after a name, which may itself be a link, ".." is not the name's
  // parent, and a lexical count could not tell where it goes.
  long depth = static_cast<long>(link.size()) - 1;
  bool named = false;
  size_t pos = 0;
  while (pos <= target.size()) {
    size_t end = target.find('/', pos);
    if (end == std::string::npos) end = target.size();
    std::string part = target.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      named = true;
      continue;
    }
    if (named || --depth < 0) return false;
  }
  return true;
}

std::string JoinComponents(const std::vector<std::string>& components) {
  std::string joined;
  for (const std::string& c : components) joined += (joined.empty() ? "" : "/") + c;
  return joined;
}

}  // namespace zorvex::unzip
