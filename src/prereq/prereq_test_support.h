// A fixture for the prerequisite tests: a catalogue whose every text is its key and its
// arguments followed by "|", so that what the checks print reads as a trace of keys.
#pragma once

#include "doubles/platform_test.h"
#include "inventory/logs.h"
#include "messages/message_keys.h"

namespace zorvex::prereq {

class PrereqTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    std::vector<std::pair<std::string, std::string>> texts;
    for (const messages::MessageKey& k : messages::kMessageKeys) {
      std::string text(k.key);
      for (char kind : k.args) text += kind == 's' ? " %s" : " %d";
      texts.emplace_back(std::string(k.key), text + "|");
    }
    AddCatalogue("cons.nls", texts);
    LoadCatalogues();
  }
  void TearDown() override { inventory::CloseLog(); }
};

}  // namespace zorvex::prereq
