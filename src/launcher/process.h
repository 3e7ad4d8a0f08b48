// Starting child processes: the Java virtual machine that runs the installer, and helper
// programs of the bootstrap such as unzip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/exit_status.h"

namespace zorvex {

inline constexpr uint32_t kStillActive = kExitJavaStillRunning;

// The texts of the list, each followed by one blank. With `dump` in debug runs, the list
// is shown element by element first.
std::string JoinArguments(const std::vector<std::string>& list, bool dump);

// Starts Java with the joined list and, when `wait`, waits for it. Returns Java's exit
// code (259 while it runs when not waited for), or the platform's error code when the
// start, the wait or the exit-code query failed (the start failure after S_ERGOSLST).
uint32_t CreateZEKProcess(const std::vector<std::string>& list, bool wait);

}  // namespace zorvex
