// The components of a distribution medium and what a run makes of BOOTSTRAP_COMPS: which
// of the launcher's own staging steps run, which other components are unpacked, and from
// which version directory. Decided here once, apart from carrying it out: the staging
// driver carries the plan out, and the medium tool's check reports the same plan.
#pragma once

#include <string>
#include <vector>

namespace zorvex::bootstrap {

// The launcher's own components, by their directory names below the components root.
inline constexpr char kJre[] = "zorvex.swd.jre";
inline constexpr char kJdk[] = "zorvex.jdk";
inline constexpr char kZek[] = "zorvex.swd.zek";
inline constexpr char kZekCore[] = "zorvex.swd.zek.core";
inline constexpr char kZpatch[] = "zorvex.swd.zpatch";

// The components root, relative to the launcher's directory: ../stage/Components, else
// ../../stage/Components (named even when neither exists; the caller says so).
std::string ComponentsRoot();

// The directory of a component's jars: {root}/{name}/{version}/1/DataFiles, with the
// highest version directory when `version` is empty (*chosen, when given, says which).
std::string ComponentDir(const std::string& root, const std::string& name,
                         const std::string& version, std::string* chosen = nullptr);

// A BOOTSTRAP_COMPS entry, "NAME" or "NAME:VERSION", split. False when the name (or a
// version that is given) is no plain directory name: such an entry would name a place
// outside the components root, and is skipped.
bool SplitComponentEntry(const std::string& entry, std::string* name, std::string* version);

// What one BOOTSTRAP_COMPS entry does.
enum class ComponentRole {
  kSkipped,    // no plain name and version: `name` is empty when it names no component
  kRuntime,    // marks the runtime's step (its version is the parameter file's or the highest)
  kInstaller,  // mark their steps, from the named version's directory when one is named
  kCore,
  kPatch,
  kOther,  // unpacked into the target as it stands, before the steps
};
struct PlannedComponent {
  std::string entry;  // as BOOTSTRAP_COMPS gives it
  ComponentRole role = ComponentRole::kSkipped;
  std::string name;
  std::string version;  // empty: the highest
};

// The plan BOOTSTRAP_COMPS makes: with no entry every step of the launcher's own runs;
// else the steps its entries mark, and the entries in their order. Where the runtime is
// not staged as Java's (a bootstrap-only run), an entry naming it is unpacked as any other.
struct ComponentPlan {
  bool runtime = false;
  bool installer = false;
  bool core = false;
  bool patch = false;
  std::vector<PlannedComponent> entries;
};
ComponentPlan PlanComponents(const std::vector<std::string>& bootstrap_comps,
                             bool runtime_is_javas);

}  // namespace zorvex::bootstrap
