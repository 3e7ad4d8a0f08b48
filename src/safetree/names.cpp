#include <cctype>

#include "safetree/tree.h"

namespace zorvex::safetree {

namespace {

// Characters a Windows file name cannot hold; ':' would open a second data stream.
bool ForbiddenOnWindows(unsigned char c) {
  return c < 0x20 || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' ||
         c == '|';
}

// "COM" or "LPT" followed by one digit, ASCII or superscript (Windows reads "COM¹" as
// COM1): the serial and parallel ports.
bool IsPortName(const std::string& base) {
  if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) {
    return false;
  }
  const std::string digit = base.substr(3);
  return (digit.size() == 1 && std::isdigit(static_cast<unsigned char>(digit[0]))) ||
         digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

bool IsWindowsDeviceName(const std::string& utf8) {
  std::string base = utf8.substr(0, utf8.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
         base == "CONOUT$" || IsPortName(base);
}

bool MakeWindowsName(std::string* utf8) {
  bool changed = false;
  for (char& c : *utf8) {
    if (ForbiddenOnWindows(static_cast<unsigned char>(c))) c = '_', changed = true;
  }
  for (size_t i = utf8->size(); i-- > 0 && ((*utf8)[i] == '.' || (*utf8)[i] == ' ');) {
    (*utf8)[i] = '_';
    changed = true;
  }
  if (IsWindowsDeviceName(*utf8)) {
    utf8->insert(0, "_");
    changed = true;
  }
  return changed;
}

namespace {
std::function<void(const std::string&)>& Pause() {
  static std::function<void(const std::string&)> pause;
  return pause;
}
}  // namespace

void SetRemovalPause(std::function<void(const std::string& shown)> pause) {
  Pause() = std::move(pause);
}

void RemovalPause(const std::string& shown) {
  if (Pause()) Pause()(shown);
}

bool Tree::MakeDirectory(const std::string& rel, std::string* error) {
  for (size_t end = rel.find('/');; end = rel.find('/', end + 1)) {
    const std::string prefix = rel.substr(0, end);
    if (!prefix.empty() && made_.count(prefix) == 0) {
      if (!MakeOneDirectory(prefix, error)) return false;
      made_.insert(prefix);
    }
    if (end == std::string::npos) return true;
  }
}

}  // namespace zorvex::safetree
