#include "doubles/platform_test.h"

#include "messages/catalogue.h"

namespace zorvex::testing {

PlatformTest::PlatformTest(const platform::PathStyle* style)
    : fake_(style),
      style_(style),
      files_(fake_.files_),
      registry_(fake_.registry_),
      console_(fake_.console_),
      processes_(fake_.processes_),
      system_(fake_.system_) {}

void PlatformTest::AddCatalogue(const std::string& file_name,
                                const std::vector<std::pair<std::string, std::string>>& texts) {
  std::string bytes;
  for (const auto& [key, text] : texts) bytes += key + "=" + text + std::string(1, '\0');
  const char sep = style_->separator;
  std::string dir = system_.module_path.substr(0, system_.module_path.find_last_of(sep) + 1);
  files_.AddFile(dir + "resource" + sep + file_name, bytes);
}

void PlatformTest::LoadCatalogues() {
  ASSERT_EQ(messages::LoadMessageCatalogue(system_.module_path), 0);
}

}  // namespace zorvex::testing
