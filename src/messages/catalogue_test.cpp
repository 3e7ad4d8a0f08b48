#include "messages/catalogue.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "doubles/platform_test.h"
#include "messages/message_keys.h"

namespace zorvex::messages {
namespace {

std::string Nul() { return std::string(1, '\0'); }

TEST(LoadRecordsTest, ReadsRecordsByTheFileFormat) {
  struct Case {
    std::string name;
    std::string bytes;
    std::map<std::string, std::string> texts;
    std::vector<std::string> malformed;
  };
  const std::string long_head(1023, 'a');
  const Case cases[] = {
      {"first text wins", "KEY=one" + Nul() + "KEY=two" + Nul(), {{"KEY", "one"}}, {}},
      {"line feeds stay", "K=a\nb" + Nul(), {{"K", "a\nb"}}, {}},
      {"nothing trimmed", " K = v " + Nul(), {{" K ", " v "}}, {}},
      {"equals in text", "K=a=b" + Nul(), {{"K", "a=b"}}, {}},
      {"empty text", "K=" + Nul(), {{"K", ""}}, {}},
      {"unterminated last record ignored", "A=1" + Nul() + "B=2", {{"A", "1"}}, {}},
      {"two NULs give one empty record", "A=1" + Nul() + Nul(), {{"A", "1"}}, {""}},
      {"no equals sign", "junk" + Nul() + "A=1" + Nul(), {{"A", "1"}}, {"junk"}},
      {"1023 bytes end a record", long_head + "K=v" + Nul(), {{"K", "v"}}, {long_head}},
      {"a record with NUL holds 1022 bytes",
       "K=" + std::string(1020, 'x') + Nul(),
       {{"K", std::string(1020, 'x')}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CatalogueMap map;
    std::vector<std::string> malformed;
    LoadRecords(c.bytes, &map, &malformed);
    EXPECT_EQ(map.size(), c.texts.size());
    for (const auto& [key, text] : c.texts) {
      ASSERT_NE(map.Find(key), nullptr) << key;
      EXPECT_EQ(*map.Find(key), text);
    }
    EXPECT_EQ(malformed, c.malformed);
  }
}

TEST(LocaleTagTest, AppliesTheSubstitutions) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"ENU", "USA", "en_US"}, {"JPN", "JPN", "ja_JP"}, {"CHS", "CHN", "zh_CN"},
      {"CHT", "TWN", "zh_TW"}, {"KOR", "KOR", "ko_KO"}, {"DEU", "CHE", "de_CN"},
      {"de", "CH", "de_CN"},   {"fr", "FR", "fr_FR"},   {"jp", "jp", "ja_JP"},
      {"ESN", "ESP", "es_ES"}, {"PTB", "BRA", "pt_BR"}, {"ITA", "ITA", "it_IT"},
  };
  for (const auto& [lang, ctry, tag] : cases) EXPECT_EQ(LocaleTag(lang, ctry), tag) << lang;
}

TEST(ResourceDirectoryTest, SitsBesideTheLauncher) {
  EXPECT_EQ(ResourceDirectory("C:\\media\\setup.exe", '\\'), "C:\\media\\resource");
  EXPECT_EQ(ResourceDirectory("setup.exe", '\\'), ".\\resource");
  EXPECT_EQ(ResourceDirectory("/opt/m/setup", '/'), "/opt/m/resource");
}

class CatalogueLoadTest : public testing::PlatformTest {};

TEST_F(CatalogueLoadTest, CountryThenLanguageThenBase) {
  system_.language = "DEU";
  system_.country = "DEU";
  AddCatalogue("cons.nls", {{"A", "base A"}, {"B", "base B"}, {"C", "base C"}});
  AddCatalogue("cons_de.nls", {{"A", "de A"}, {"B", "de B"}});
  AddCatalogue("cons_de_DE.nls", {{"A", "de_DE A"}});
  LoadCatalogues();
  EXPECT_EQ(MessageText("A"), "de_DE A");
  EXPECT_EQ(MessageText("B"), "de B");
  EXPECT_EQ(MessageText("C"), "base C");
  // The log speaks the base language whatever the user's.
  EXPECT_EQ(LogMessageText("A"), "base A");
  EXPECT_TRUE(console_.have_output);
}

TEST_F(CatalogueLoadTest, NoCatalogueFailsWithItsMessage) {
  EXPECT_EQ(LoadMessageCatalogue(system_.module_path), 1);
  EXPECT_EQ(console_.err.substr(0, console_.err.find("The catalogue ")),
            "\nERROR: Could not read any NLS message catalogue!\n");
  EXPECT_NE(console_.err.find("cons.nls cannot be read."), std::string::npos);
}

TEST_F(CatalogueLoadTest, EmptyBaseFileCountsAndMissingKeysYieldTheKey) {
  AddCatalogue("cons.nls", {});
  LoadCatalogues();
  EXPECT_EQ(GetMessageText("S_ZEK"), nullptr);
  EXPECT_EQ(MessageText("S_ZEK"), "S_ZEK");
  EXPECT_EQ(FormatMessageText("S_ERPERDIR", {"x"}), "S_ERPERDIR");
}

TEST_F(CatalogueLoadTest, LocalizedFileWithoutBaseLeavesTheLogCatalogueEmpty) {
  system_.language = "JPN";
  system_.country = "JPN";
  AddCatalogue("cons_ja.nls", {{"K", "ja"}});
  LoadCatalogues();
  EXPECT_EQ(MessageText("K"), "ja");
  EXPECT_EQ(GetLogMessageText("K"), nullptr);
}

TEST_F(CatalogueLoadTest, MalformedRecordWarnsAndLoadingGoesOn) {
  system_.language = "DEU";
  AddCatalogue("cons_de.nls", {{"K", "v"}});
  files_.AddFile("C:\\media\\disk1\\resource\\cons_de.nls", "broken" + Nul() + "K=v" + Nul());
  LoadCatalogues();
  EXPECT_EQ(console_.err, "WARNING: Ignoring malformed message \"broken\" in catalogue!\n");
  EXPECT_EQ(MessageText("K"), "v");
  // The base file is read for both catalogues, so its faults are reported twice.
  console_.err.clear();
  AddCatalogue("cons.nls", {});
  files_.AddFile("C:\\media\\disk1\\resource\\cons.nls", Nul());
  LoadCatalogues();
  EXPECT_EQ(console_.err,
            "WARNING: Ignoring malformed message \"broken\" in catalogue!\n"
            "WARNING: Ignoring malformed message \"\" in catalogue!\n"
            "WARNING: Ignoring malformed message \"\" in catalogue!\n");
}

// Translations are written by people: a text that would read arguments the launcher does
// not pass, or of another kind, or write through %n, is replaced by the base text, and
// when that is unusable too, by the key.
TEST_F(CatalogueLoadTest, HostileTranslationsFallBackToBaseThenKey) {
  system_.language = "FRA";
  system_.country = "FRA";
  AddCatalogue("cons.nls", {{"S_ERPERDIR", "cannot create %s\n"},
                            {"S_TOTAL_ARGS", "args: %d\n"},
                            {"S_ERGOSLST", "%s failed: %s"}});
  AddCatalogue("cons_fr.nls", {{"S_ERPERDIR", "impossible %d"},
                               {"S_TOTAL_ARGS", "%n%s%s%s"},
                               {"S_ERGOSLST", "%s a échoué %d"}});
  LoadCatalogues();
  EXPECT_EQ(FormatMessageText("S_ERPERDIR", {"C:\\t"}), "cannot create C:\\t\n");
  EXPECT_EQ(FormatMessageText("S_TOTAL_ARGS", {3}), "args: 3\n");
  EXPECT_EQ(FormatMessageText("S_ERGOSLST", {"f()", 2}), "f() a échoué 2");
  // The log catalogue holds the broken base text only: the key is logged instead.
  EXPECT_EQ(FormatLogMessageText("S_ERGOSLST", {"f()", 2}), "S_ERGOSLST");
}

// A medium's catalogue made before the launcher added its own keys: those keys say their
// English text with their arguments, never the bare key; the built-in texts are the base
// catalogue's.
TEST_F(CatalogueLoadTest, KeysTheLauncherAddedFallBackToTheirEnglishText) {
  AddCatalogue("cons.nls", {{"S_ZEK", "T"}});
  LoadCatalogues();
  EXPECT_EQ(FormatMessageText("S_INSTALL_LOG_KEPT", {"C:\\t\\x.log"}),
            "The installation did not succeed; its install log is kept as C:\\t\\x.log\n");
  EXPECT_EQ(FormatLogMessageText("S_ERBOOTSTRAP_COPY", {"a", "b"}), "Copying a to b failed.\n");
  EXPECT_EQ(MessageText("S_ERBOOTSTRAP_COPY"), "Copying %s to %s failed.\n");
  EXPECT_EQ(MessageText("S_ZEK_OTHER"), "S_ZEK_OTHER");
}

CatalogueMap ReadShippedCatalogue(const std::string& name);

TEST(ShippedCataloguesTest, AddedKeysFallBackToTheBaseText) {
  const CatalogueMap base = ReadShippedCatalogue("cons");
  for (const AddedKeyText& added : kAddedKeyTexts) {
    const std::string* text = base.Find(std::string(added.key));
    ASSERT_NE(text, nullptr) << added.key;
    EXPECT_EQ(*text, added.text) << added.key;
  }
}

CatalogueMap ReadShippedCatalogue(const std::string& name) {
  std::ifstream in(std::string(ZORVEX_RESOURCE_DIR) + "/" + name + ".nls", std::ios::binary);
  EXPECT_TRUE(in) << name << ": catalogue not built";
  std::stringstream bytes;
  bytes << in.rdbuf();
  CatalogueMap map;
  std::vector<std::string> malformed;
  LoadRecords(bytes.str(), &map, &malformed);
  EXPECT_TRUE(malformed.empty()) << name;
  return map;
}

// Every catalogue the launcher ships holds the base catalogue's keys, each text taking the
// base text's arguments, of the same kinds and in the same order, so that no translation
// loses a path or a number, or swaps two of them.
TEST(ShippedCataloguesTest, EveryCatalogueMatchesTheBase) {
  const CatalogueMap base = ReadShippedCatalogue("cons");
  ASSERT_EQ(base.size(), kMessageKeyCount);
  for (const char* name : {"cons", "cons_de", "cons_es", "cons_fr", "cons_it", "cons_ja", "cons_ko",
                           "cons_pt_BR", "cons_zh_CN", "cons_zh_TW"}) {
    SCOPED_TRACE(name);
    const CatalogueMap map = ReadShippedCatalogue(name);
    EXPECT_EQ(map.size(), base.size());
    for (const MessageKey& k : kMessageKeys) {
      const std::string* text = map.Find(std::string(k.key));
      const std::string* base_text = base.Find(std::string(k.key));
      ASSERT_NE(text, nullptr) << k.key;
      ASSERT_NE(base_text, nullptr) << k.key;
      EXPECT_EQ(ConversionKinds(*text), ConversionKinds(*base_text)) << k.key << ": " << *text;
      EXPECT_EQ(ConversionKinds(*base_text), std::string(k.args)) << k.key << ": " << *base_text;
      FormatArgs args;
      for (char kind : k.args) args.push_back(kind == 's' ? FormatArg("x") : FormatArg(1));
      EXPECT_TRUE(FormatFits(*text, args)) << k.key << ": " << *text;
    }
  }
}

}  // namespace
}  // namespace zorvex::messages
