// The Java runtime the installer runs on: asked for on the console when none is known, and
// checked for its kind (runtime or development kit) when the user gave it.
#pragma once

#include <optional>
#include <string>

#include "config/settings.h"

namespace zorvex::bootstrap {

// Asks on the console for a Java directory until one holds bin/java. The answer as typed;
// nullopt when standard input ends first (nobody is there to answer).
std::optional<std::string> PromptForJreLocation(const config::Settings& settings);

// True when {dir}/lib/rt.jar or {dir}/lib/core.jar exists.
bool IsJreHome(const std::string& dir);

// 0 when the runtime may be used, kExitRunEnded (after reporting why) when USEJREONLY or USEJDKONLY
// refuses a runtime that the user gave.
int ValidateJavaHome(const std::string& jre_location, bool extjre,
                     const config::Settings& settings);

}  // namespace zorvex::bootstrap
