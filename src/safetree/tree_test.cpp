#include "safetree/tree.h"

#include <gtest/gtest.h>

namespace zorvex::safetree {
namespace {

TEST(TreeNamesTest, DeviceNames) {
  for (const char* name : {"CON", "nul.txt", "Com1", "LPT9.log", "COM0", "lpt0.x", "CONIN$",
                           "conout$.txt", "COM\xC2\xB9", "LPT\xC2\xB3.txt", "AUX .c"}) {
    EXPECT_TRUE(IsWindowsDeviceName(name)) << name;
  }
  for (const char* name : {"CONSOLE", "COM10", "LPT", "xCON", "COM\xC2\xB4", "con_"}) {
    EXPECT_FALSE(IsWindowsDeviceName(name)) << name;
  }
}

}  // namespace
}  // namespace zorvex::safetree
