// The Java runtime the installer runs on: asked for on the console when none is known, and
// checked for its kind (runtime or development kit) when the user gave it.
#pragma once

#include <string>

#include "config/settings.h"

namespace zorvex::bootstrap {

// Asks on the console until the answer names a directory holding bin/java(.exe).
// Returns the answer as typed, or an empty text when standard input ends.
std::string PromptForJreLocation(const config::Settings& settings);

// True when {dir}/lib/rt.jar or {dir}/lib/core.jar exists.
bool IsJreHome(const std::string& dir);

// 0 when the runtime may be used, -1 (after reporting why) when USEJREONLY or USEJDKONLY
// refuses a runtime that the user gave.
int ValidateJavaHome(const std::string& jre_location, bool extjre,
                     const config::Settings& settings);

}  // namespace zorvex::bootstrap
