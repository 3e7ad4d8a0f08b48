// Staging the installer, its core, the patch tool, the Java runtime and the extra
// directories into the target directory, rewriting the settings to name the staged copies.
#pragma once

#include <cstdint>
#include <string>

#include "config/settings.h"

namespace zorvex::bootstrap {

inline constexpr int kBootstrapFailed = 30;

struct BootstrapRequest {
  std::string target_dir;                // the scratch directory, or BOOTSTRAP_LOC
  std::string startup_location;          // the launcher's directory
  int64_t size_kb = 0;                   // BOOTSTRAP_SIZE in units of 1024
  bool copy_jre = true;                  // the negation of EXTJRE
  config::Settings* settings = nullptr;  // rewritten in place
  std::string* jre_location = nullptr;   // JRE_LOCATION, rewritten in place
};

// Stages everything. kBootstrapFailed on failure (after its own messages), another value
// on success.
int BootstrapFiles(const BootstrapRequest& request);

}  // namespace zorvex::bootstrap
