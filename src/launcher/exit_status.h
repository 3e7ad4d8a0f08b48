// The launcher's exit statuses: what deployment tools and scripts act on, as the README's
// table ("Exit statuses: the contract") states it; a unit test holds the two together.
// Header-only, so that the parameter file's reader and the prerequisite checks, which end
// runs too, need not link the launcher.
#pragma once

#include <cstdint>

namespace zorvex {

// No message catalogue could be read: nothing else ran.
inline constexpr int kExitNoCatalogue = 1;
// The launcher ended the run before Java (a refusal, failed staging, prerequisites refused,
// no Java runtime): 255 on POSIX.
inline constexpr int kExitRunEnded = -1;
// The parameter file was not found: 254 on POSIX.
inline constexpr int kExitNoParameterFile = -2;
// Java was started and still runs (a run that does not wait): Windows' STILL_ACTIVE; a
// POSIX process passes on its low eight bits, 3.
inline constexpr uint32_t kExitJavaStillRunning = 259;

}  // namespace zorvex
