#include "config/ini_reader.h"

#include "platform/platform.h"

namespace zorvex::config {

namespace {

// The C locale's whitespace; bytes from 0x80 up never count.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Trim(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && IsSpace(s[begin])) ++begin;
  while (end > begin && IsSpace(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

enum class LineKind { kBlank, kHeader, kEntry };

LineKind Classify(const std::string& line) {
  size_t first = 0;
  while (first < line.size() && IsSpace(line[first])) ++first;
  if (first == line.size()) return LineKind::kBlank;
  if (line[first] == '[' && line.find(']', first + 1) != std::string::npos) {
    return LineKind::kHeader;
  }
  return LineKind::kEntry;
}

bool HeaderMatches(const std::string& line, const std::string& section) {
  return Trim(line) == "[" + section + "]";
}

// The next line that is not blank; false at the end of the file.
bool NextNonBlank(IniStream* stream, std::string* line, LineKind* kind) {
  while (stream->NextLine(line)) {
    *kind = Classify(*line);
    if (*kind != LineKind::kBlank) return true;
  }
  return false;
}

bool SeekSection(IniStream* stream, const std::string& section) {
  std::string line;
  LineKind kind;
  while (NextNonBlank(stream, &line, &kind)) {
    if (kind == LineKind::kHeader && HeaderMatches(line, section)) return true;
  }
  return false;
}

}  // namespace

bool IniStream::Open(const std::string& path) {
  pos_ = 0;
  return platform::ReadWholeFile(path, &bytes_);
}

bool IniStream::NextLine(std::string* line) {
  if (pos_ >= bytes_.size()) return false;
  size_t end = bytes_.find('\n', pos_);
  if (end == std::string::npos) end = bytes_.size();
  line->assign(bytes_, pos_, end - pos_);
  pos_ = end + 1;
  return true;
}

bool CutIniToken(const std::string& line, size_t* pos, bool key, std::string* token) {
  size_t i = *pos;
  while (i < line.size() && IsSpace(line[i])) ++i;
  if (i < line.size() && line[i] == '"') {
    size_t close = line.find('"', i + 1);
    if (close == std::string::npos) return false;
    *token = Trim(line.substr(i + 1, close - i - 1));
    *pos = close + 1;
    return true;
  }
  size_t end = i;
  while (end < line.size() && line[end] != '=' && !(key && IsSpace(line[end]))) ++end;
  if (end == i) return false;
  *token = Trim(line.substr(i, end - i));
  // The character that ended the run is consumed; the end of the line is not.
  *pos = end < line.size() ? end + 1 : end;
  return true;
}

void GetIniValueInText(const std::string* section, const std::string& key,
                       const std::string& default_value, std::string* out,
                       const std::string& text) {
  *out = default_value;
  IniStream stream(text);
  if (section != nullptr && !SeekSection(&stream, *section)) return;
  std::string line;
  LineKind kind;
  while (NextNonBlank(&stream, &line, &kind)) {
    if (kind == LineKind::kHeader) return;
    size_t pos = 0;
    std::string found_key;
    // A malformed line ends the search: it hides every key below it.
    if (!CutIniToken(line, &pos, true, &found_key)) return;
    if (found_key != key) continue;
    std::string value;
    if (CutIniToken(line, &pos, false, &value)) *out = value;
    return;
  }
}

void GetIniValue(const std::string* section, const std::string& key,
                 const std::string& default_value, std::string* out, const std::string& path) {
  std::string text;
  if (!platform::ReadWholeFile(path, &text)) {
    *out = default_value;
    return;
  }
  GetIniValueInText(section, key, default_value, out, text);
}

bool ReadIniEntry(const std::string* section, std::string* key, std::string* value,
                  IniStream* stream) {
  if (section != nullptr) return SeekSection(stream, *section);
  std::string line;
  LineKind kind;
  if (!NextNonBlank(stream, &line, &kind) || kind == LineKind::kHeader) return false;
  size_t pos = 0;
  if (!CutIniToken(line, &pos, true, key)) return false;
  if (!CutIniToken(line, &pos, false, value)) value->clear();
  return true;
}

int GetIniValueWithFallback(const std::string& first, const std::string& second,
                            const std::string& key, const std::string& default_value,
                            std::string* out, const std::string& path) {
  GetIniValue(&first, key, default_value, out, path);
  if (!out->empty()) return 1;
  GetIniValue(&second, key, default_value, out, path);
  return 2;
}

}  // namespace zorvex::config
