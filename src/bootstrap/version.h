// Choosing a component's version directory: the highest version among the directories of
// a component on the medium.
#pragma once

#include <cstdint>
#include <string>

namespace zorvex::bootstrap {

inline constexpr char kNoVersion[] = "0.0.0.0.0";

// The name of the subdirectory of `dir` (which ends in a separator) with the highest
// version; kNoVersion when none is higher or the directory cannot be listed. Among equal
// versions the first listed wins.
std::string FindHighestVersion(const std::string& dir);

// True when `candidate` is a newer version than `current`, comparing at most `budget`
// numeric components (the bootstrap always uses 5).
bool IsNewerVersion(const std::string& current, const std::string& candidate, int budget);

// The number in `text`: blanks, digits, blanks. False for anything else, and when the
// value does not fit in 32 signed bits.
bool ParseVersionNumber(const std::string& text, int32_t* value);

}  // namespace zorvex::bootstrap
