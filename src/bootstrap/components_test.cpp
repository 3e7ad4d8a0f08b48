#include "bootstrap/components.h"

#include <gtest/gtest.h>

#include "doubles/platform_test.h"

namespace zorvex::bootstrap {
namespace {

using Role = ComponentRole;

// What BOOTSTRAP_COMPS makes of the staging: the steps it marks and what each entry does.
// Staging and the medium tool's check both carry out this plan, so a fault here is one in
// both places.
TEST(ComponentPlanTest, EntriesMarkStepsOrAreUnpackedOrSkipped) {
  const struct {
    std::vector<std::string> comps;
    bool runtime_is_javas;
    std::string steps;  // r, i, c, p for the steps planned
    std::vector<std::pair<Role, std::string>> entries;
  } cases[] = {
      {{}, true, "ricp", {}},
      {{"zorvex.swd.jre", "zorvex.swd.zek:2.0"},
       true,
       "ri",
       {{Role::kRuntime, "zorvex.swd.jre"}, {Role::kInstaller, "zorvex.swd.zek"}}},
      // A bootstrap-only run stages no runtime for Java: the entry is unpacked as any other.
      {{"zorvex.swd.jre"}, false, "", {{Role::kOther, "zorvex.swd.jre"}}},
      {{"zorvex.swd.zek.core", "zorvex.swd.zpatch", "extra:1.2"},
       true,
       "cp",
       {{Role::kCore, "zorvex.swd.zek.core"},
        {Role::kPatch, "zorvex.swd.zpatch"},
        {Role::kOther, "extra"}}},
      // Entries that would lead out of the components root are skipped, named or not.
      {{"..:1", ":1.0", "a:b/c", "x/y", "zorvex.swd.zek:..", "ok"},
       true,
       "",
       {{Role::kSkipped, ".."},
        {Role::kSkipped, ""},
        {Role::kSkipped, "a"},
        {Role::kSkipped, "x/y"},
        {Role::kSkipped, "zorvex.swd.zek"},
        {Role::kOther, "ok"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.comps));
    ComponentPlan plan = PlanComponents(c.comps, c.runtime_is_javas);
    std::string steps = std::string(plan.runtime ? "r" : "") + (plan.installer ? "i" : "") +
                        (plan.core ? "c" : "") + (plan.patch ? "p" : "");
    EXPECT_EQ(steps, c.steps);
    std::vector<std::pair<Role, std::string>> entries;
    for (const PlannedComponent& e : plan.entries) entries.push_back({e.role, e.name});
    EXPECT_EQ(entries, c.entries);
  }
  EXPECT_EQ(PlanComponents({"extra:1.2"}, true).entries[0].version, "1.2");
}

class ComponentPlacesTest : public testing::PlatformTest {};

// The root beside the launcher's directory wins over the one a level higher; a component's
// directory is its highest version's unless one is named.
TEST_F(ComponentPlacesTest, RootAndVersionDirectory) {
  files_.AddDir("C:\\stage\\Components");
  EXPECT_EQ(ComponentsRoot(), "..\\..\\stage\\Components");
  files_.AddDir("C:\\media\\stage\\Components\\zorvex.swd.zek\\1.2");
  files_.AddDir("C:\\media\\stage\\Components\\zorvex.swd.zek\\1.10");
  EXPECT_EQ(ComponentsRoot(), "..\\stage\\Components");
  const std::string root = "C:\\media\\stage\\Components";
  std::string chosen;
  EXPECT_EQ(ComponentDir(root, kZek, "", &chosen), root + "\\zorvex.swd.zek\\1.10\\1\\DataFiles");
  EXPECT_EQ(chosen, "1.10");
  EXPECT_EQ(ComponentDir(root, kZek, "1.2"), root + "\\zorvex.swd.zek\\1.2\\1\\DataFiles");
}

}  // namespace
}  // namespace zorvex::bootstrap
