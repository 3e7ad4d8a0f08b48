// The message catalogue and the log catalogue: texts looked up by key, loaded at the start
// of the run from the .nls files in "resource" beside the launcher.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "messages/format.h"

namespace zorvex::messages {

// One catalogue: key to text. The first text loaded for a key wins.
class CatalogueMap {
 public:
  // Inserts the text unless the key is already there. Returns true when inserted.
  bool InsertIfAbsent(const std::string& key, const std::string& text);
  // Inserts every text of `other` whose key is not here yet.
  void InsertAllAbsent(const CatalogueMap& other);
  // The text of the key, or null when the key is not in the map.
  const std::string* Find(const std::string& key) const;
  size_t size() const { return texts_.size(); }
  void Clear() { texts_.clear(); }

 private:
  std::unordered_map<std::string, std::string> texts_;
};

// The catalogues of a run (held by the run's context): the user's language's for the
// console, and the log's, in English.
struct Catalogues {
  CatalogueMap messages;
  CatalogueMap log_messages;
};

// Longest record of a catalogue file: a record ends at a NUL or after this many bytes.
inline constexpr size_t kMaxRecordBytes = 1023;

// Reads the records of one .nls file into the map. Records without "=" are skipped and
// returned in `malformed` (for the warning); bytes after the last complete record are ignored.
void LoadRecords(const std::string& bytes, CatalogueMap* map, std::vector<std::string>* malformed);

// The locale tag "ll_CC" from the platform's language and country abbreviations, with the
// substitutions jp to ja, ch to zh and CH to CN.
std::string LocaleTag(const std::string& language, const std::string& country);

// The directory "resource" beside the executable at `module_path`.
std::string ResourceDirectory(const std::string& module_path, char separator);

// Loads both catalogues for the launcher at `module_path`. Returns 0 when at least one
// catalogue file was read, 1 (after its message on standard error) when none was.
int LoadMessageCatalogue(const std::string& module_path);

// The message-catalogue / log-catalogue text of a key, or null when the key is missing.
const std::string* GetMessageText(const std::string& key);
const std::string* GetLogMessageText(const std::string& key);

// The text of a key used as it stands (not as a format): the message-catalogue text, or
// the key itself when the catalogue lacks it.
std::string MessageText(const std::string& key);
std::string LogMessageText(const std::string& key);

// The text of a key formatted with the arguments. A text whose conversions do not fit the
// arguments is not used: the base text is tried next, and the key itself last.
std::string FormatMessageText(const std::string& key, const FormatArgs& args);
std::string FormatLogMessageText(const std::string& key, const FormatArgs& args);

}  // namespace zorvex::messages
