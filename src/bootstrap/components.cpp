#include "bootstrap/components.h"

#include "bootstrap/version.h"
#include "paths/paths.h"
#include "platform/platform.h"

namespace zorvex::bootstrap {

std::string ComponentsRoot() {
  const char sep = platform::Os().style->separator;
  const std::string stage = std::string("stage") + sep + "Components";
  const std::string near = std::string("..") + sep + stage;
  return paths::FileExists(near) ? near : std::string("..") + sep + ".." + sep + stage;
}

std::string ComponentDir(const std::string& root, const std::string& name,
                         const std::string& version, std::string* chosen) {
  const char sep = platform::Os().style->separator;
  const std::string taken = version.empty() ? FindHighestVersion(root + sep + name + sep) : version;
  if (chosen != nullptr) *chosen = taken;
  return root + sep + name + sep + taken + sep + "1" + sep + "DataFiles";
}

bool SplitComponentEntry(const std::string& entry, std::string* name, std::string* version) {
  size_t colon = entry.find(':');
  *name = entry.substr(0, colon);
  *version = colon == std::string::npos ? "" : entry.substr(colon + 1);
  return paths::IsPlainName(*name) && (version->empty() || paths::IsPlainName(*version));
}

ComponentPlan PlanComponents(const std::vector<std::string>& bootstrap_comps,
                             bool runtime_is_javas) {
  ComponentPlan plan;
  if (bootstrap_comps.empty()) {
    plan.runtime = plan.installer = plan.core = plan.patch = true;
    return plan;
  }
  for (const std::string& entry : bootstrap_comps) {
    PlannedComponent c;
    c.entry = entry;
    if (!SplitComponentEntry(entry, &c.name, &c.version)) {
      plan.entries.push_back(std::move(c));
      continue;
    }
    if (c.name == kJre && runtime_is_javas) {
      c.role = ComponentRole::kRuntime;
      plan.runtime = true;
    } else if (c.name == kZek) {
      c.role = ComponentRole::kInstaller;
      plan.installer = true;
    } else if (c.name == kZekCore) {
      c.role = ComponentRole::kCore;
      plan.core = true;
    } else if (c.name == kZpatch) {
      c.role = ComponentRole::kPatch;
      plan.patch = true;
    } else {
      c.role = ComponentRole::kOther;
    }
    plan.entries.push_back(std::move(c));
  }
  return plan;
}

}  // namespace zorvex::bootstrap
