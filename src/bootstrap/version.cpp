#include "bootstrap/version.h"

#include <vector>

#include "platform/platform.h"

namespace zorvex::bootstrap {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Skips blanks at *pos, then takes the run of digits there.
std::string DigitRun(const std::string& text, size_t* pos) {
  while (*pos < text.size() && text[*pos] == ' ') ++*pos;
  size_t start = *pos;
  while (*pos < text.size() && IsDigit(text[*pos])) ++*pos;
  return text.substr(start, *pos - start);
}

void SkipSeparator(const std::string& text, size_t* pos) {
  if (*pos < text.size() && (text[*pos] == '.' || text[*pos] == ',')) ++*pos;
}

// A component too large for 32 bits compares as the largest value: it is certainly newer
// than any that fits, and two such components count as equal.
int32_t ComponentValue(const std::string& run) {
  int32_t value = 0;
  return ParseVersionNumber(run, &value) ? value : INT32_MAX;
}

}  // namespace

bool ParseVersionNumber(const std::string& text, int32_t* value) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  int32_t n = 0;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == ' ') break;
    if (!IsDigit(c)) return false;
    if (n > (INT32_MAX - (c - '0')) / 10) return false;
    n = n * 10 + (c - '0');
  }
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos < text.size()) return false;
  *value = n;
  return true;
}

bool IsNewerVersion(const std::string& current, const std::string& candidate, int budget) {
  if (current.empty()) return !candidate.empty();
  size_t c = 0, n = 0;
  while (n < candidate.size()) {
    std::string current_run = DigitRun(current, &c);
    std::string candidate_run = DigitRun(candidate, &n);
    if (current_run.empty()) {
      if (!candidate_run.empty()) return true;
      char a = c < current.size() ? Folded(current[c]) : '\0';
      char b = n < candidate.size() ? Folded(candidate[n]) : '\0';
      return static_cast<signed char>(a) < static_cast<signed char>(b);
    }
    if (candidate_run.empty()) return false;
    if (budget-- == 0) return false;
    int32_t x = ComponentValue(current_run), y = ComponentValue(candidate_run);
    if (x != y) return x < y;
    SkipSeparator(current, &c);
    SkipSeparator(candidate, &n);
    if (c >= current.size()) return n < candidate.size();
  }
  return false;
}

std::string FindHighestVersion(const std::string& dir) {
  std::string best = kNoVersion;
  std::vector<platform::DirEntry> entries;
  platform::FileSystem& files = *platform::Os().files;
  if (!files.ListDirectory(dir, &entries)) return best;
  for (const platform::DirEntry& e : entries) {
    // A link to a version directory counts as one: media lay out versions with links.
    bool directory = e.is_directory || (e.is_link && files.IsDirectory(dir + e.name));
    if (directory && IsNewerVersion(best, e.name, 5)) best = e.name;
  }
  return best;
}

}  // namespace zorvex::bootstrap
