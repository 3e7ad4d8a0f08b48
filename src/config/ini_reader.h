// The launcher's own INI reader, used for the prerequisite sections of the parameter file.
// Line-oriented and stateless between calls: every lookup reads the file from the top.
// Lines of any length are read whole; keys and values are not cut at 1023 characters.
#pragma once

#include <string>

namespace zorvex::config {

// A file opened for reading, walked line by line; its position is where a section walk
// stands.
class IniStream {
 public:
  explicit IniStream(std::string bytes) : bytes_(std::move(bytes)) {}
  // Opens a file; false when it cannot be read.
  bool Open(const std::string& path);
  // The next line without its line feed; false at the end of the file.
  bool NextLine(std::string* line);

 private:
  std::string bytes_;
  size_t pos_ = 0;
};

// Cuts a token of an entry line starting at `*pos` and advances `*pos` past what it took.
// The key token stops at whitespace as well as at "=". False when the token fails.
bool CutIniToken(const std::string& line, size_t* pos, bool key, std::string* token);

// The value of `key` in `section` (or, with a null section, in the part before the first
// header) of the file, or the default when there is none.
void GetIniValue(const std::string* section, const std::string& key,
                 const std::string& default_value, std::string* out, const std::string& path);

// The same lookup in an INI text already read.
void GetIniValueInText(const std::string* section, const std::string& key,
                       const std::string& default_value, std::string* out, const std::string& text);

// With a section: positions the stream just behind the first matching header. Without:
// reads the next entry of the current section. False at the end of the section, of the
// file, or at a malformed line.
bool ReadIniEntry(const std::string* section, std::string* key, std::string* value,
                  IniStream* stream);

// Looks the key up in the first section; when that gives an empty text, in the second.
// 1 when the first section gave a non-empty text, 2 when the second was consulted.
int GetIniValueWithFallback(const std::string& first, const std::string& second,
                            const std::string& key, const std::string& default_value,
                            std::string* out, const std::string& path);

}  // namespace zorvex::config
