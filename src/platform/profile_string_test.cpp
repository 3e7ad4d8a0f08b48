#include "platform/profile_string.h"

#include <gtest/gtest.h>

namespace zorvex::platform {
namespace {

TEST(ReadProfileStringTest, FollowsTheProfileCallsRules) {
  const std::string ini =
      "TOP=outside\n"
      "[Other]\nKEY=other\n"
      "[zorvex]\r\n"
      "; KEY=comment\r\n"
      "  Key  =  spaced value  \r\n"
      "QUOTED=\"  kept blanks \"\n"
      "EMPTY=\n"
      "KEY=second\n"
      "[Next]\nLATER=x\n";
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"Zorvex", "KEY", "spaced value"},  // names match in any case; blanks trimmed
      {"ZORVEX", "key", "spaced value"},
      {"Zorvex", "QUOTED", "  kept blanks "},
      {"Zorvex", "EMPTY", ""},
      {"Zorvex", "LATER", "default"},  // belongs to the next section
      {"Zorvex", "TOP", "default"},
      {"Missing", "KEY", "default"},
  };
  for (const auto& [section, key, expected] : cases) {
    SCOPED_TRACE(std::string(section) + "/" + key);
    EXPECT_EQ(ReadProfileString(ini, section, key, "default"), expected);
  }
}

}  // namespace
}  // namespace zorvex::platform
