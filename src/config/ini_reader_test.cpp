#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"

namespace zorvex::config {
namespace {

TEST(CutIniTokenTest, SplitsEntryLines) {
  struct Case {
    const char* line;
    const char* key;    // null: the key fails
    const char* value;  // null: the value fails
  };
  const Case cases[] = {
      {"KEY=value", "KEY", "value"},
      {"KEY= value   ", "KEY", "value"},
      {"   KEY=two words", "KEY", "two words"},
      {"KEY value", "KEY", "value"},
      {"KEY = value", "KEY", nullptr},
      {"KEY =value", "KEY", nullptr},
      {"KEY=a=b", "KEY", "a"},
      {"KEY=\"a=b\"", "KEY", "a=b"},
      {"KEY=\"\"", "KEY", ""},
      {"KEY=", "KEY", nullptr},
      {"KEY", "KEY", nullptr},
      {"\"MY KEY\" value", "MY KEY", "value"},
      {"\"MY KEY\"=value", "MY KEY", nullptr},
      {"=value", nullptr, nullptr},
      {"# note", "#", "note"},
      {"KEY=\"open", "KEY", nullptr},
      {"KEY=value\r", "KEY", "value"},
      {"KEY=\xff\xfe", "KEY", "\xff\xfe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    size_t pos = 0;
    std::string key, value;
    bool key_ok = CutIniToken(c.line, &pos, true, &key);
    ASSERT_EQ(key_ok, c.key != nullptr);
    if (!key_ok) continue;
    EXPECT_EQ(key, c.key);
    bool value_ok = CutIniToken(c.line, &pos, false, &value);
    ASSERT_EQ(value_ok, c.value != nullptr);
    if (value_ok) {
      EXPECT_EQ(value, c.value);
    }
  }
}

class IniReaderTest : public testing::PlatformTest {
 protected:
  std::string Get(const char* section, const char* key, const std::string& text) {
    files_.AddFile("C:\\p.ini", text);
    std::string section_name = section == nullptr ? "" : section;
    std::string out;
    GetIniValue(section == nullptr ? nullptr : &section_name, key, "DEF", &out, "C:\\p.ini");
    return out;
  }
};

TEST_F(IniReaderTest, GetIniValueRules) {
  struct Case {
    const char* name;
    const char* section;
    const char* key;
    std::string text;
    const char* expected;
  };
  const Case cases[] = {
      {"plain", "S", "KEY", "[S]\nKEY=value\n", "value"},
      {"CR LF", "S", "KEY", "[S]\r\nKEY=value\r\n", "value"},
      {"blanks around header", "S", "KEY", "  [S]  \nKEY=v\n", "v"},
      {"blank inside brackets", "S", "KEY", "[ S ]\nKEY=v\n", "DEF"},
      {"other case", "S", "KEY", "[s]\nKEY=v\n", "DEF"},
      {"comment after header ends the section", "S", "KEY", "[S]\nA=1\n[S] ;c\nKEY=v\n", "DEF"},
      {"KEY = value fails", "S", "KEY", "[S]\nKEY = value\n", "DEF"},
      {"empty quotes are a value", "S", "KEY", "[S]\nKEY=\"\"\n", ""},
      {"no value", "S", "KEY", "[S]\nKEY=\n", "DEF"},
      {"malformed line hides the rest", "S", "KEY", "[S]\n=oops\nKEY=1\n", "DEF"},
      {"first key wins", "S", "KEY", "[S]\nKEY=1\nKEY=2\n", "1"},
      {"first header wins", "S", "KEY", "[S]\nA=1\n[T]\n[S]\nKEY=2\n", "DEF"},
      {"no section, no headers", nullptr, "KEY", "A=1\n\nKEY=2\n", "2"},
      {"no section sees only the top", nullptr, "KEY", "A=1\n[S]\nKEY=2\n", "DEF"},
      {"last line without line feed", "S", "KEY", "[S]\nKEY=1", "1"},
      {"byte-order mark is not blank", nullptr, "KEY", "\xEF\xBB\xBFKEY=1\n", "DEF"},
      {"missing section", "X", "KEY", "[S]\nKEY=1\n", "DEF"},
      {"next section ends the search", "S", "KEY", "[S]\nA=1\n[T]\nKEY=2\n", "DEF"},
      {"line longer than 1023", "S", "KEY", "[S]\nKEY=" + std::string(3000, 'v') + "\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string got = Get(c.section, c.key, c.text);
    if (c.expected == nullptr) {
      EXPECT_EQ(got, std::string(3000, 'v'));
    } else {
      EXPECT_EQ(got, c.expected);
    }
  }
}

TEST_F(IniReaderTest, MissingFileGivesTheDefault) {
  std::string out;
  std::string section = "S";
  GetIniValue(&section, "KEY", "DEF", &out, "C:\\none.ini");
  EXPECT_EQ(out, "DEF");
}

TEST_F(IniReaderTest, ReadIniEntryWalksASection) {
  files_.AddFile("C:\\p.ini", "[A]\nX=0\n[S]\nA=1\nB\n\nC=3\n[T]\nD=4\n");
  IniStream stream("");
  ASSERT_TRUE(stream.Open("C:\\p.ini"));
  std::string section = "S";
  std::string key, value;
  ASSERT_TRUE(ReadIniEntry(&section, &key, &value, &stream));
  std::vector<std::pair<std::string, std::string>> got;
  while (ReadIniEntry(nullptr, &key, &value, &stream)) got.emplace_back(key, value);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"A", "1"}, {"B", ""}, {"C", "3"}};
  EXPECT_EQ(got, expected);
  std::string missing = "Z";
  IniStream again("");
  ASSERT_TRUE(again.Open("C:\\p.ini"));
  EXPECT_FALSE(ReadIniEntry(&missing, &key, &value, &again));
}

TEST_F(IniReaderTest, FallbackSection) {
  files_.AddFile("C:\\p.ini", "[R]\nA=\nB=r\n[O]\nA=o\nB=o\n");
  std::string out;
  EXPECT_EQ(GetIniValueWithFallback("R", "O", "B", "", &out, "C:\\p.ini"), 1);
  EXPECT_EQ(out, "r");
  EXPECT_EQ(GetIniValueWithFallback("R", "O", "A", "", &out, "C:\\p.ini"), 2);
  EXPECT_EQ(out, "o");
  // A non-empty default never reaches the second section.
  EXPECT_EQ(GetIniValueWithFallback("R", "O", "A", "d", &out, "C:\\p.ini"), 1);
  EXPECT_EQ(out, "d");
}

}  // namespace
}  // namespace zorvex::config
