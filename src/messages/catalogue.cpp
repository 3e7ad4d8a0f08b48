#include "messages/catalogue.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string_view>

#include "messages/message_keys.h"
#include "platform/platform.h"
#include "run/run_context.h"

namespace zorvex::messages {

namespace {

Catalogues& RunCatalogues() { return CurrentRun().catalogues; }

void WarnMalformed(const std::vector<std::string>& malformed) {
  for (const std::string& record : malformed) {
    platform::Os().console->WriteStderr("WARNING: Ignoring malformed message \"" + record +
                                        "\" in catalogue!\n");
  }
}

// Loads one file into the map; false when it cannot be opened.
bool LoadFile(const std::string& path, CatalogueMap* map) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes)) return false;
  std::vector<std::string> malformed;
  LoadRecords(bytes, map, &malformed);
  WarnMalformed(malformed);
  return true;
}

// The base catalogue feeds both maps: the log catalogue holds all of it, the message
// catalogue what the language files left open. It is read and parsed once; its warnings
// are given for each of the two loadings, as the launcher has always given them.
bool LoadBaseFile(const std::string& path) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes)) return false;
  std::vector<std::string> malformed;
  LoadRecords(bytes, &RunCatalogues().log_messages, &malformed);
  WarnMalformed(malformed);
  RunCatalogues().messages.InsertAllAbsent(RunCatalogues().log_messages);
  WarnMalformed(malformed);
  return true;
}

// The English text of a key the launcher added, for catalogues that lack it; null for any
// other key.
const std::string* AddedKeyFallback(const std::string& key) {
  static const std::map<std::string, std::string> texts = [] {
    std::map<std::string, std::string> m;
    for (const AddedKeyText& t : kAddedKeyTexts) m.emplace(t.key, t.text);
    return m;
  }();
  auto it = texts.find(key);
  return it == texts.end() ? nullptr : &it->second;
}

std::string FormatFirstFitting(const std::string* first, const std::string* second,
                               const std::string& key, const FormatArgs& args) {
  for (const std::string* text : {first, second, AddedKeyFallback(key)}) {
    if (text == nullptr) continue;
    if (std::optional<std::string> out = FormatChecked(*text, args)) return *out;
  }
  return key;
}

}  // namespace

bool CatalogueMap::InsertIfAbsent(const std::string& key, const std::string& text) {
  return texts_.try_emplace(key, text).second;
}

const std::string* CatalogueMap::Find(const std::string& key) const {
  auto it = texts_.find(key);
  return it == texts_.end() ? nullptr : &it->second;
}

void CatalogueMap::InsertAllAbsent(const CatalogueMap& other) {
  for (const auto& [key, text] : other.texts_) texts_.try_emplace(key, text);
}

void LoadRecords(const std::string& bytes, CatalogueMap* map, std::vector<std::string>* malformed) {
  const char* data = bytes.data();
  size_t pos = 0;
  while (pos < bytes.size()) {
    // A record ends at its NUL, or after kMaxRecordBytes when no NUL comes sooner; the
    // byte after such a full record begins the next one.
    size_t room = std::min(bytes.size() - pos, kMaxRecordBytes);
    const void* nul = std::memchr(data + pos, '\0', room);
    size_t end = nul != nullptr ? static_cast<const char*>(nul) - data : pos + room;
    if (nul == nullptr && room < kMaxRecordBytes) break;  // an unterminated last record
    std::string_view record(data + pos, end - pos);
    size_t eq = record.find('=');
    if (eq == std::string_view::npos) {
      malformed->emplace_back(record);
    } else {
      map->InsertIfAbsent(std::string(record.substr(0, eq)), std::string(record.substr(eq + 1)));
    }
    pos = nul != nullptr ? end + 1 : end;
  }
}

std::string LocaleTag(const std::string& language, const std::string& country) {
  std::string lang = language.substr(0, 2);
  for (char& c : lang) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lang == "jp") lang = "ja";
  if (lang == "ch") lang = "zh";
  std::string ctry = country.substr(0, 2);
  for (char& c : ctry) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (ctry == "CH") ctry = "CN";
  return lang + "_" + ctry;
}

std::string ResourceDirectory(const std::string& module_path, char separator) {
  size_t cut = module_path.find_last_of(separator);
  if (cut == std::string::npos) return std::string(".") + separator + "resource";
  return module_path.substr(0, cut + 1) + "resource";
}

int LoadMessageCatalogue(const std::string& module_path) {
  platform::Platform& os = platform::Os();
  RunCatalogues().messages.Clear();
  RunCatalogues().log_messages.Clear();
  const char sep = os.style->separator;
  std::string dir = ResourceDirectory(module_path, sep);
  std::string language, country;
  os.system->UserLocale(&language, &country);
  std::string tag = LocaleTag(language, country);
  std::string base = dir + sep + "cons";
  bool any = false;
  any |= LoadFile(base + "_" + tag + ".nls", &RunCatalogues().messages);
  any |= LoadFile(base + "_" + tag.substr(0, tag.find_last_of('_')) + ".nls",
                  &RunCatalogues().messages);
  any |= LoadBaseFile(base + ".nls");
  if (!any) {
    os.console->WriteStderr("\nERROR: Could not read any NLS message catalogue!\n");
    os.console->WriteStderr("The catalogue " + base + ".nls cannot be read.\n");
    return 1;
  }
  os.console->UseStandardOutput();
  return 0;
}

const std::string* GetMessageText(const std::string& key) {
  return RunCatalogues().messages.Find(key);
}

const std::string* GetLogMessageText(const std::string& key) {
  return RunCatalogues().log_messages.Find(key);
}

std::string MessageText(const std::string& key) {
  const std::string* text = GetMessageText(key);
  if (text == nullptr) text = AddedKeyFallback(key);
  return text != nullptr ? *text : key;
}

std::string LogMessageText(const std::string& key) {
  const std::string* text = GetLogMessageText(key);
  if (text == nullptr) text = AddedKeyFallback(key);
  return text != nullptr ? *text : key;
}

std::string FormatMessageText(const std::string& key, const FormatArgs& args) {
  return FormatFirstFitting(GetMessageText(key), GetLogMessageText(key), key, args);
}

std::string FormatLogMessageText(const std::string& key, const FormatArgs& args) {
  return FormatFirstFitting(GetLogMessageText(key), nullptr, key, args);
}

}  // namespace zorvex::messages
