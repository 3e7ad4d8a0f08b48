#include "platform/profile_string.h"

#include <cctype>
#include <string_view>

namespace zorvex::platform {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Calls visit(key, line) for each entry line of the first section named `section`, in
// file order, until visit returns true. The text is read as the profile call reads it: a
// byte-order mark skipped, ";" lines passed over, a "[" without "]" an entry line, and
// only the first section of a name.
template <typename Visit>
void WalkFirstSection(const std::string& ini_text, const std::string& section, Visit visit) {
  std::string_view text(ini_text);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool in_section = false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    size_t close = line.find(']');
    if (line.front() == '[' && close != std::string_view::npos) {
      if (in_section) return;
      in_section = EqualsNoCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (in_section && visit(Trim(line.substr(0, line.find('='))), line)) return;
  }
}

}  // namespace

std::vector<std::string> ListProfileKeys(const std::string& ini_text, const std::string& section) {
  std::vector<std::string> keys;
  WalkFirstSection(ini_text, section, [&](std::string_view key, std::string_view) {
    keys.emplace_back(key);
    return false;
  });
  return keys;
}

std::string ReadProfileString(const std::string& ini_text, const std::string& section,
                              const std::string& key, const std::string& default_value) {
  std::string result = default_value;
  WalkFirstSection(ini_text, section, [&](std::string_view name, std::string_view line) {
    if (!EqualsNoCase(name, key)) return false;
    size_t eq = line.find('=');
    // A key without "=" has no value: the first line of the key decides, so the default.
    if (eq == std::string_view::npos) return true;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    result = std::string(value);
    return true;
  });
  return result;
}

}  // namespace zorvex::platform
