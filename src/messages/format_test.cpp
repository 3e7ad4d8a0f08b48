#include "messages/format.h"

#include <gtest/gtest.h>

namespace zorvex::messages {
namespace {

struct FormatCase {
  const char* format;
  FormatArgs args;
  const char* expected;  // null: the format must be refused
};

TEST(FormatCheckedTest, FormatsOnlyWhatTheArgumentsFit) {
  const FormatCase cases[] = {
      {"plain text", {}, "plain text"},
      {"100%% sure", {}, "100% sure"},
      {"path %s here", {"C:\\a b"}, "path C:\\a b here"},
      {"%s failed with %d.", {"CreateZEKProcess()", 193}, "CreateZEKProcess() failed with 193."},
      {"[%5s][%-4d][%03d]", {"ab", 7, 5}, "[   ab][7   ][005]"},
      {"%.2s", {"abcdef"}, "ab"},
      {"%ld and %lu", {12, 4294967295ul}, "12 and 4294967295"},
      {"fewer: %s", {"x", 5}, "fewer: x"},  // a translation may drop one
      {"%d", {"text"}, nullptr},            // a text where a number goes
      {"%s", {3}, nullptr},                 // a number where a text goes
      {"%s %s", {"one"}, nullptr},          // reads an argument not passed
      {"%n", {}, nullptr},                  // writes through a pointer
      {"%s%n", {"x"}, nullptr},
      {"%p", {1}, nullptr},
      {"%f", {1}, nullptr},
      {"%*d", {3, 4}, nullptr},     // width from an argument
      {"%1$s", {"x"}, nullptr},     // positional arguments
      {"%99999s", {"x"}, nullptr},  // width past any buffer
      {"%.5000d", {1}, nullptr},
      {"trailing %", {}, nullptr},
      {"%-%", {}, nullptr},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.format);
    std::optional<std::string> out = FormatChecked(c.format, c.args);
    if (c.expected == nullptr) {
      EXPECT_FALSE(out.has_value());
    } else {
      ASSERT_TRUE(out.has_value());
      EXPECT_EQ(*out, c.expected);
    }
  }
}

TEST(FormatCheckedTest, LongArgumentsAreNotCut) {
  std::string path(5000, 'p');
  EXPECT_EQ(FormatChecked("<%s>", {path}), "<" + path + ">");
}

TEST(ConversionKindsTest, ListsKindsInOrder) {
  EXPECT_EQ(ConversionKinds("%s at %d%% of %x, %c"), "sddd");
  EXPECT_EQ(ConversionKinds("none"), "");
  EXPECT_FALSE(ConversionKinds("%n").has_value());
}

}  // namespace
}  // namespace zorvex::messages
