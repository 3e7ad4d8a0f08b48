// Fuzzes the catalogue loader and the checked formatting of catalogue texts: whatever a
// catalogue file holds, loading and formatting with the launcher's arguments must neither
// crash nor read an argument that was not passed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "messages/catalogue.h"
#include "messages/format.h"
#include "messages/message_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorvex::messages;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CatalogueMap map;
  std::vector<std::string> malformed;
  LoadRecords(bytes, &map, &malformed);
  for (const MessageKey& k : kMessageKeys) {
    const std::string* text = map.Find(std::string(k.key));
    if (text == nullptr) continue;
    FormatArgs args;
    for (char kind : k.args) args.push_back(kind == 's' ? FormatArg("C:\\path") : FormatArg(-1));
    FormatChecked(*text, args);
  }
  // Every record text also as a format with each simple argument list.
  for (const FormatArgs& args : {FormatArgs{}, FormatArgs{"x"}, FormatArgs{7},
                                 FormatArgs{"x", 2147483647}, FormatArgs{1, "y"}}) {
    FormatChecked(bytes, args);
  }
  return 0;
}
