// The fixture of the unit tests: fresh platform doubles and a fresh run on them.
#pragma once

#include <gtest/gtest.h>

#include "doubles/fake_platform.h"

namespace zorvex::testing {

// A fixture that makes fresh doubles (Windows path style unless a test asks for POSIX) and
// a fresh run on them, in progress for the test.
class PlatformTest : public ::testing::Test {
 protected:
  PlatformTest() : PlatformTest(&platform::kWindowsStyle) {}
  explicit PlatformTest(const platform::PathStyle* style);

  // Writes a catalogue file of KEY=text records into the fake resource directory.
  void AddCatalogue(const std::string& file_name,
                    const std::vector<std::pair<std::string, std::string>>& texts);
  // Loads the catalogues for the launcher at `module_path_`.
  void LoadCatalogues();

  FakePlatform fake_;
  const platform::PathStyle* style_;
  FakeFileSystem& files_;
  FakeRegistry& registry_;
  FakeConsole& console_;
  FakeProcesses& processes_;
  FakeSystem& system_;
};

}  // namespace zorvex::testing
