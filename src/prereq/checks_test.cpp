#include "prereq/checks.h"

#include <gtest/gtest.h>

#include "prereq/prereq_test_support.h"

namespace zorvex::prereq {
namespace {

using V = Verdict;

TEST(ChoiceListTest, SentenceAndMembership) {
  struct Case {
    const char* list;
    const char* sentence;
  };
  const Case cases[] = {{"5.0,5.1,5.2", "5.0, 5.1 or 5.2"},
                        {"6a", "6a"},
                        {"A,B", "A or B"},
                        {"", ""},
                        {",,A,,B,", "A or B"},
                        {"6.0, 6.1", "6.0 or  6.1"}};
  for (const Case& c : cases) EXPECT_EQ(FormatChoiceList(c.list), c.sentence) << c.list;
  EXPECT_TRUE(IsInList("6.0,6.1", "6.1"));
  EXPECT_FALSE(IsInList("6.0, 6.1", "6.1"));  // blanks are part of the entry
  EXPECT_FALSE(IsInList("", ""));
  EXPECT_FALSE(IsInList("6.1", "6.10"));
}

TEST(ColourCountTest, TableTextsPowersAndWholeNumbers) {
  const std::pair<int, const char*> cases[] = {{4, "16"},
                                               {8, "256"},
                                               {16, "65536"},
                                               {32, "4294967296"},
                                               {64, "18446744073709551616"},
                                               {1, "2.000000"},
                                               {0, "1.000000"},
                                               {2, "4.000000"},
                                               {33, "8589934592"},
                                               {128, "340282366920938463463374607431768211456"}};
  for (const auto& [bits, text] : cases) EXPECT_EQ(ColourCountText(bits), text) << bits;
}

TEST(PagingListTest, SumsTheMaximumSizes) {
  using namespace std::string_literals;
  const std::pair<std::string, int64_t> cases[] = {
      {"C:\\pagefile.sys 2048 4096\0"s, 4096},
      {"C:\\pagefile.sys 1024 2048\0D:\\pagefile.sys 512 1024\0\0"s, 3072},
      {"C:\\pagefile.sys\0"s, 0},                          // system-managed: no sizes
      {"C:\\pagefile.sys 1024\0D:\\p.sys 1 5\0"s, 5},      // a missing number adds 0
      {"C:\\My Files\\p.sys 1 2\0"s, 0},                   // a blank in the path
      {":/swapfile 512 512\0:/dev/vda2 100 100\0"s, 612},  // as the POSIX probe writes it
      {""s, 0}};
  for (const auto& [list, total] : cases) EXPECT_EQ(PagingListTotalMb(list), total) << list;
}

TEST_F(PrereqTest, ServicePackRules) {
  struct Case {
    uint32_t major;
    const char* name;
    bool hotfix;
    const char* value;
    V verdict;
    const char* actual;
  };
  const Case cases[] = {
      {5, "Service Pack 6a", false, "6", V::kPassed, "Service Pack 6a"},    // minimum, byte order
      {5, "Service Pack 6a", false, "6,7", V::kFailed, "Service Pack 6a"},  // a list: exact
      {5, "Service Pack 10", false, "9", V::kFailed, "Service Pack 10"},
      {5, "Service  Pack   3", false, "2,3", V::kPassed, "Service  Pack   3"},
      {5, "", false, "1", V::kFailed, "none"},
      {5, "SP3", false, "1", V::kFailed, "SP3"},  // fewer than three words
      {4, "Service Pack 6", true, "6a", V::kPassed, "Service Pack 6a"},
      {4, "Service Pack 6", false, "6a", V::kFailed, "Service Pack 6"},
      {5, "Service Pack 6", true, "6a", V::kFailed, "Service Pack 6"},  // hotfix rule is v4's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " / " + c.value);
    testing::FakeRegistry fresh;
    registry_ = fresh;
    if (c.hotfix) {
      registry_.AddKey("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009");
    }
    console_.printed.clear();
    EXPECT_EQ(CheckServicePack(c.value, {c.major, 0, c.name}), c.verdict);
    EXPECT_EQ(console_.printed, "S_CHECKING_FOR_SERVICE_PACK|" + FormatChoiceList(c.value) +
                                    "S_ACTUAL " + c.actual + "|" +
                                    (c.verdict == V::kPassed ? "S_SPASSED|" : "S_SFAILED|"));
  }
}

TEST_F(PrereqTest, DisplayColourAndProcessorThresholds) {
  struct Case {
    int bits;
    const char* value;
    V verdict;
  };
  const Case colours[] = {{8, "256", V::kPassed},    {8, "257", V::kPassed},
                          {8, "258", V::kFailed},    {16, "65537", V::kPassed},
                          {16, "65538", V::kFailed}, {32, "1e30", V::kPassed},
                          {24, "0", V::kNoVerdict},  {24, "many", V::kNoVerdict},
                          {0, "256", V::kFailed},    {1, "3", V::kPassed}};
  for (const Case& c : colours) {
    SCOPED_TRACE(std::to_string(c.bits) + " / " + c.value);
    console_.printed.clear();
    system_.bits_per_pixel = c.bits;
    EXPECT_EQ(CheckDisplayColors(c.value), c.verdict);
    std::string lines = std::string("S_CHECKING_FOR_DISP_COL ") + c.value + "|S_HIGHER_THAN " +
                        c.value + "|S_ACTUAL " + ColourCountText(c.bits) + "|";
    if (c.verdict != V::kNoVerdict) lines += c.verdict == V::kPassed ? "S_SPASSED|" : "S_SFAILED|";
    EXPECT_EQ(console_.printed, lines);
  }
  const Case clocks[] = {{2000, "2000", V::kPassed},       {2000, "2001", V::kFailed},
                         {2000, "1500MHz", V::kPassed},    {2000, "0", V::kNoVerdict},
                         {2000, "fast", V::kNoVerdict},    {0, "1", V::kFailed},
                         {2000, "99999999999", V::kFailed}};
  for (const Case& c : clocks) {
    SCOPED_TRACE(std::to_string(c.bits) + " MHz / " + c.value);
    console_.printed.clear();
    system_.cpu_mhz = static_cast<uint32_t>(c.bits);
    EXPECT_EQ(CheckCpuSpeed(c.value), c.verdict);
    std::string lines = std::string("S_CHECKING_FOR_CPU ") + c.value + "|S_ACTUAL_CPU " +
                        std::to_string(c.bits) + "|";
    if (c.verdict != V::kNoVerdict) lines += c.verdict == V::kPassed ? "S_SPASSED|" : "S_SFAILED|";
    EXPECT_EQ(console_.printed, lines);
  }
}

platform::PagingInfo Paging(bool have_list, const std::string& list, uint32_t error, bool vista,
                            uint64_t available_mb) {
  return {have_list, list, error, vista, available_mb};
}

TEST_F(PrereqTest, SwapSpaceLinesAndFallbacks) {
  using namespace std::string_literals;
  struct Case {
    platform::PagingInfo paging;
    const char* value;
    std::string lines;
  };
  const std::vector<Case> cases = {
      {Paging(true, "C:\\p.sys 1 2048\0D:\\p.sys 1 1024\0"s, 0, true, 0), "3072",
       "S_CHECKING_FOR_SWAP 3072|S_ACTUAL_SWAP 3072|S_SPASSED|"},
      {Paging(true, "C:\\p.sys 1 2048\0"s, 0, true, 0), "2048.5",
       "S_FAIL_CHECKING_FOR_SWAP 2048 2048.5|S_SFAILED|"},
      {Paging(true, "C:\\p.sys\0"s, 0, true, 700),
       "512",  // system-managed: what is free
       "S_CHECKING_FOR_SWAP 512|S_ACTUAL_SWAP 700|S_SPASSED|"},
      {Paging(true, "C:\\p.sys\0"s, 0, false, 700), "512",
       "S_FAIL_CHECKING_FOR_SWAP 0 512|S_SFAILED|"},
      {Paging(true, "", 0, true, 0), "1",
       "S_FAIL_CHECKING_FOR_SWAP 0 1|S_SFAILED|"},  // no swap at all
      {Paging(false, "", 234, true, 0), "1", "S_REGISTRY_KEY_TOO_LARGE|S_SFAILED|"},
      {Paging(false, "", 2, true, 0), "1", "S_FAILED_TO_OPEN_REGISTRY|S_SFAILED|"},
      {Paging(true, "C:\\p.sys 1 2048\0"s, 0, true, 0), "0", "S_INVALID_SWAP_SPACE_REQ|S_SFAILED|"},
      {Paging(true, "C:\\p.sys 1 2048\0"s, 0, true, 0), "-5",
       "S_INVALID_SWAP_SPACE_REQ|S_SFAILED|"},
      {Paging(true, "C:\\p.sys 1 2048\0"s, 0, true, 0), "lots",
       "S_INVALID_SWAP_SPACE_REQ|S_SFAILED|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    console_.printed.clear();
    system_.paging = c.paging;
    bool passes = c.lines.find("S_SPASSED") != std::string::npos;
    EXPECT_EQ(CheckSwapSpace(c.value), passes ? V::kPassed : V::kFailed);
    EXPECT_EQ(console_.printed, c.lines);
  }
}

}  // namespace
}  // namespace zorvex::prereq
