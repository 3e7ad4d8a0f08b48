#include "bootstrap/jre_location.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"
#include "inventory/logs.h"
#include "options/option_state.h"

namespace zorvex::bootstrap {
namespace {

class JreLocationTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    AddCatalogue("cons.nls", {{"S_SPECIFY_JRE_LOCATION", "jre?"},
                              {"S_SPECIFY_JDK_ONLY_LOCATION", "jdk only?"},
                              {"S_SPECIFY_JRE_ONLY_LOCATION", "jre only?"},
                              {"S_SPECIFY_VALID_JRE_LOCATION", "valid jre?"},
                              {"S_SPECIFY_VALID_JRE_ONLY_LOCATION", "valid jre only?"},
                              {"S_SPECIFY_VALID_JDK_ONLY_LOCATION", "valid jdk only?"},
                              {"S_INVALID_JDK_HOME", "not a jdk"},
                              {"S_INVALID_JRE_HOME", "not a jre"}});
    LoadCatalogues();
    files_.AddFile("C:\\jdk\\bin\\java.exe");
    files_.AddFile("C:\\jre\\bin\\java.exe");
    files_.AddFile("C:\\jre\\lib\\rt.jar");
    st_.usejreonly = st_.usejdkonly = "FALSE";
  }
  config::Settings st_;
};

TEST_F(JreLocationTest, PromptRepeatsUntilADirectoryHoldsJava) {
  console_.input = "\nC:\\nothing\nC:\\jdk\nC:\\jre\n";
  EXPECT_EQ(PromptForJreLocation(st_), "C:\\jdk");
  EXPECT_EQ(console_.printed, "\njre?\nvalid jre?\nvalid jre?");
}

TEST_F(JreLocationTest, QuestionsFollowTheKindAsked) {
  st_.usejreonly = st_.usejdkonly = "TRUE";
  console_.input = "x\nC:\\jre\n";
  EXPECT_EQ(PromptForJreLocation(st_), "C:\\jre");
  EXPECT_EQ(console_.printed, "\njdk only?\nvalid jre only?");
}

TEST_F(JreLocationTest, EndOfInputEndsThePrompt) {
  console_.input = "x\n";
  EXPECT_EQ(PromptForJreLocation(st_), std::nullopt);
}

TEST_F(JreLocationTest, ValidateJavaHome) {
  struct Case {
    const char* jre_only;
    const char* jdk_only;
    bool given;
    const char* location;
    int result;
    const char* shown;
  };
  const Case cases[] = {
      {"TRUE", "FALSE", true, "C:\\jre", 0, ""},
      {"TRUE", "FALSE", true, "C:\\jdk", -1, "\n\nnot a jre"},
      {"true", "FALSE", true, "C:\\jdk", 0, ""},
      {"FALSE", "TRUE", true, "C:\\jre", -1, "\n\nnot a jdk"},
      {"TRUE", "TRUE", true, "C:\\jre", -1, "\n\nnot a jdk"},
      {"TRUE", "TRUE", true, "C:\\jdk", -1, "\n\nnot a jre"},
      {"TRUE", "TRUE", false, "C:\\jdk", 0, ""},  // a runtime from the parameter file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.jre_only) + "/" + c.jdk_only + " " + c.location);
    console_.printed.clear();
    st_.usejreonly = c.jre_only;
    st_.usejdkonly = c.jdk_only;
    Options().jreloc_given = c.given;
    EXPECT_EQ(ValidateJavaHome(c.location, false, st_), c.result);
    EXPECT_EQ(console_.printed, c.shown);
  }
}

}  // namespace
}  // namespace zorvex::bootstrap
