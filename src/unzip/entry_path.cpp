#include "unzip/entry_path.h"

#include <cctype>

namespace zorvex::unzip {

namespace {

bool IsSeparator(char c, bool windows) { return c == '/' || (windows && c == '\\'); }

bool IsDrive(const std::string& name) {
  return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

// Characters a Windows file name cannot hold; ':' would open a second data stream.
bool ForbiddenOnWindows(unsigned char c) {
  return c < 0x20 || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' ||
         c == '|';
}

// A device name in any case, alone or before an extension ("con", "LPT1.txt", "nul .x"):
// Windows opens the device, whatever the directory.
bool IsDeviceName(const std::string& part) {
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// Makes one name safe for Windows: forbidden characters and a trailing dot or blank (which
// Windows drops, so that "a.txt." names "a.txt") become '_', and a device name gets a '_'
// in front. True when the name changed.
bool MakeWindowsName(std::string* part) {
  bool changed = false;
  for (char& c : *part) {
    if (ForbiddenOnWindows(static_cast<unsigned char>(c))) c = '_', changed = true;
  }
  for (size_t i = part->size(); i-- > 0 && ((*part)[i] == '.' || (*part)[i] == ' ');) {
    (*part)[i] = '_';
    changed = true;
  }
  if (IsDeviceName(*part)) {
    part->insert(0, "_");
    changed = true;
  }
  return changed;
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
    if (windows && MakeWindowsName(&part)) path.renamed = true;
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
