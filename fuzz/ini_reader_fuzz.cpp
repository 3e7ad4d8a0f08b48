// Fuzzes the launcher's INI reader and the profile-string reader with arbitrary file
// contents: every section the text names is looked up and walked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/ini_reader.h"
#include "platform/profile_string.h"

namespace {

std::vector<std::string> Sections(const std::string& text) {
  std::vector<std::string> names = {"Zorvex", "Generic Prereqs"};
  size_t pos = 0;
  while ((pos = text.find('[', pos)) != std::string::npos && names.size() < 8) {
    size_t close = text.find(']', pos);
    if (close == std::string::npos) break;
    names.push_back(text.substr(pos + 1, close - pos - 1));
    pos = close;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorvex;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string out;
  for (const std::string& section : Sections(text)) {
    for (const char* key : {"KEY", "Windows", "CPU", "#", ""}) {
      config::GetIniValueInText(&section, key, "d", &out, text);
      platform::ReadProfileString(text, section, key, "d");
    }
    config::IniStream stream(text);
    std::string key, value;
    if (config::ReadIniEntry(&section, &key, &value, &stream)) {
      for (int i = 0; i < 10000 && config::ReadIniEntry(nullptr, &key, &value, &stream); ++i) {
      }
    }
  }
  config::GetIniValueInText(nullptr, "KEY", "", &out, text);
  return 0;
}
