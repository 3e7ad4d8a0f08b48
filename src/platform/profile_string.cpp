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

}  // namespace

std::string ReadProfileString(const std::string& ini_text, const std::string& section,
                              const std::string& key, const std::string& default_value) {
  std::string_view text(ini_text);
  // A UTF-8 byte-order mark at the start is not part of the first line.
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
    // A "[" without a "]" is no header: the line is an entry of the section it stands in.
    if (line.front() == '[' && close != std::string_view::npos) {
      // Only the first section of the name counts: a second one of the same name is not
      // read, as the Windows profile call does not read it.
      if (in_section) return default_value;
      in_section = EqualsNoCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section) continue;
    size_t eq = line.find('=');
    if (!EqualsNoCase(Trim(line.substr(0, eq)), key)) continue;
    // A key without "=" has no value: the first line of the key decides, so the default.
    if (eq == std::string_view::npos) return default_value;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return default_value;
}

}  // namespace zorvex::platform
