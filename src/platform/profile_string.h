// The reading rules of the Windows profile-string call, for platforms that lack it:
// section and key names match case-insensitively, blanks around keys and values are
// trimmed, one pair of enclosing double quotes is removed, lines that begin with ";"
// are comments, and the first matching key of the first matching section wins.
#pragma once

#include <string>
#include <vector>

namespace zorvex::platform {

// The value of `key` in `section` of the INI text, or `default_value` when there is none.
// The keys of the first section of that name, in file order, as the profile call would
// see them (a key written twice is listed twice).
std::vector<std::string> ListProfileKeys(const std::string& ini_text, const std::string& section);

std::string ReadProfileString(const std::string& ini_text, const std::string& section,
                              const std::string& key, const std::string& default_value);

}  // namespace zorvex::platform
