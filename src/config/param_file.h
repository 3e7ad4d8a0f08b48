// The parameter file zorparam.ini: where it is found, how a key of its main section
// "Zorvex" is read, every key with its default, and the settings derived from them.
#pragma once

#include <string>

#include "config/settings.h"

namespace zorvex::config {

inline constexpr char kParamFileName[] = "zorparam.ini";
inline constexpr char kMainSection[] = "Zorvex";

enum class ReadMode { kWhole, kFirstCharacter };

// The key's value from section "Zorvex" of the file, or the default when it is missing or
// empty; cut to its first character in first-character mode.
void GetParamValue(const std::string& key, std::string* out, const std::string& default_value,
                   const std::string& path, ReadMode mode);

// Splits a BOOTSTRAP_COMPS value at commas, dropping empty items; entries past the 16th go
// to `dropped`.
std::vector<std::string> SplitBootstrapComps(const std::string& value,
                                             std::vector<std::string>* dropped);

// Finds and reads the parameter file. On entry `param_file` holds the -paramFile path (or
// is empty), on return the absolute path in use; `startup_location` returns the launcher's
// directory. Creates the scratch directory into `scratch_dir` unless -BOOTSTRAPONLY or
// -rscratchPath. 0; -1 when the scratch directory or the launcher's directory fails; -2
// when no parameter file is found (after S_ERZORPARAMNFD was shown).
int ReadParameterFile(std::string* param_file, std::string* scratch_dir,
                      std::string* startup_location, Settings* settings);

// IMAGES_LOCATION, and ZEK_LOCATION / ZEK_CORE_LOCATION ".." when a "jlib" lies one level
// above the launcher's directory.
void DeriveInstallerLocations(Settings* settings);

// The Java locations from the (possibly staged) settings, then SOURCE and NLS_ENABLED.
void DeriveJavaLocations(const std::string& param_file, Settings* settings);

}  // namespace zorvex::config
