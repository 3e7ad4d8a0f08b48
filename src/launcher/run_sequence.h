// The run sequence: from the loaded catalogue to the exit status, every phase in its
// fixed order.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace zorvex {

// Runs the launcher on `native` (the real platform, or test doubles), in a run context of
// its own that it builds the medium's guard into. `args` holds the module path and the whole
// command-line text (never split). Returns the exit status (launcher/exit_status.h): 0,
// kExitNoCatalogue, kExitRunEnded, kExitNoParameterFile, Java's exit code, kExitJavaStillRunning
// when Java was started and not waited for, or the platform's error code when Java could not be
// started.
int RunLauncher(const platform::Platform& native, std::vector<std::string> args);

// STARTUP_LOCATION from the module path: a leading ".\" dropped, cut at the last
// separator; "." when there is none.
std::string StartupLocationOf(const std::string& module_path);

}  // namespace zorvex
