// The settings of the parameter file's main section and those derived from them, named
// after their keys. JRE_LOCATION and PREREQ_CONFIG_LOCATION live in the option state,
// because the command line sets them too.
#pragma once

#include <string>
#include <vector>

namespace zorvex::config {

inline constexpr size_t kMaxBootstrapComponents = 16;

struct Settings {
  std::string distribution;                  // DISTRIBUTION, first character
  std::string jre_scratch_loc;               // JRE_SCRATCH_LOC
  std::string access_dir;                    // ACCESS_DIR
  std::string jre_memory_options;            // JRE_MEMORY_OPTIONS
  std::string zek_version;                   // ZEK_VERSION
  std::string jre_version;                   // JRE_VERSION
  std::string usejreonly;                    // USEJREONLY
  std::string usejdkonly;                    // USEJDKONLY
  std::string disable_jre_prompt;            // DISABLE_JRE_PROMPT
  std::string zek_location;                  // ZEK_LOCATION
  std::string zek_core_location;             // ZEK_CORE_LOCATION
  std::string zpatch_location;               // ZPATCH_LOCATION
  std::string bootstrap;                     // BOOTSTRAP, first character (or "TRUE"/"F")
  std::string bootstrap_size;                // BOOTSTRAP_SIZE
  std::string thin_jdbc_filename;            // THIN_JDBC_FILENAME
  std::string jre_osdparam;                  // JRE_OSDPARAM
  std::string addto_classpath;               // ADDTO_CLASSPATH
  std::string install_class;                 // INSTALL_CLASS
  std::string install_oneclick_class;        // INSTALL_ONECLICK_CLASS
  std::string wait_for_completion;           // WAIT_FOR_COMPLETION, first character
  std::string copy_threads;                  // COPY_THREADS
  std::string ext_jlib;                      // EXT_JLIB
  std::string ext_lib;                       // EXT_LIB
  std::string ext_bin;                       // EXT_BIN
  std::vector<std::string> bootstrap_comps;  // BOOTSTRAP_COMPS, split, at most 16

  // Read later in the run.
  std::string platform_prereqs;  // PLATFORM_PREREQS
  std::string source;            // SOURCE
  std::string nls_enabled;       // NLS_ENABLED

  // Derived.
  std::string jre_scratch_location;    // JRE_SCRATCH_LOCATION
  std::string images_location;         // IMAGES_LOCATION
  std::string jre_bin_location;        // JRE_BIN_LOCATION
  std::string library_location;        // LIBRARY_LOCATION
  std::string zek_core_jlib_location;  // ZEK_CORE_JLIB_LOCATION
  std::string zek_jlib_location;       // ZEK_JLIB_LOCATION
  std::string zpatch_jlib_location;    // ZPATCH_JLIB_LOCATION
};

// The two ways a flag-like setting is tested.
inline bool StartsWithT(const std::string& value) { return !value.empty() && value[0] == 'T'; }
inline bool IsExactlyTrue(const std::string& value) { return value == "TRUE"; }

}  // namespace zorvex::config
