// The parameter file zorparam.ini: where it is found, how a key of its main section
// "Zorvex" is read, every key with its default, and the settings derived from them.
#pragma once

#include <string>

#include "config/settings.h"

namespace zorvex::config {

inline constexpr char kParamFileName[] = "zorparam.ini";
inline constexpr char kMainSection[] = "Zorvex";

enum class ReadMode { kWhole, kFirstCharacter };

// How the launcher reads a key of the main section, for tools that check a medium.
enum class KeyReading {
  kText,
  kPath,         // a file or directory; a relative one is the launcher directory's
  kStartsWithT,  // true when the value begins with "T"
  kExactlyTrue,  // true only when the value is exactly "TRUE"
  kNumber,       // the leading decimal number
  kList,         // comma-separated (BOOTSTRAP_COMPS) or semicolon-separated (ADDTO_CLASSPATH)
};
struct ParamKey {
  const char* name;
  KeyReading reading;
  std::string Settings::*setting;  // where ReadSettings puts it; null for JRE_LOCATION and
                                   // PREREQ_CONFIG_LOCATION (option state) and the keys
                                   // read later in the run
  const char* later_default;       // the default of a key read later in the run
};
// Every key the launcher reads from the main section.
extern const std::vector<ParamKey> kParamKeys;

// The key's value from section "Zorvex" of the file, or the default when it is missing or
// empty; cut to its first character in first-character mode.
void GetParamValue(const std::string& key, std::string* out, const std::string& default_value,
                   const std::string& path, ReadMode mode);

// Splits a BOOTSTRAP_COMPS value at commas, dropping empty items; entries past the 16th go
// to `dropped`.
std::vector<std::string> SplitBootstrapComps(const std::string& value,
                                             std::vector<std::string>* dropped);

// The parameter file the launcher uses: the given path when it exists, else the first of
// {startup}/zorparam.ini, {startup}/../zorparam.ini, {launcher}/zorparam.ini,
// {launcher}/../zorparam.ini that exists; empty when none does. `tried` receives the
// default places tried in vain, in order.
std::string FindParamFile(const std::string& given, const std::string& startup_location,
                          std::vector<std::string>* tried);

// Reads every key of the main section into the settings (and JRE_LOCATION and
// PREREQ_CONFIG_LOCATION into the option state), with the defaults and derived locations;
// BOOTSTRAP_COMPS entries past the 16th go to `dropped_components`. Writes nothing.
void ReadSettings(const std::string& path, const std::string& launcher_dir,
                  const std::string& scratch_dir, Settings* settings,
                  std::vector<std::string>* dropped_components);

// Finds and reads the parameter file. On entry `param_file` holds the -paramFile path (or
// is empty), on return the absolute path in use; `startup_location` returns the launcher's
// directory. `scratch_dir` is the run's scratch directory, which the run sequence took
// before (its logs go there). 0; kExitRunEnded when the launcher's directory cannot be
// read; kExitNoParameterFile when no parameter file is found (after S_ERZORPARAMNFD was
// shown).
int ReadParameterFile(std::string* param_file, std::string* scratch_dir,
                      std::string* startup_location, Settings* settings);

// IMAGES_LOCATION, and ZEK_LOCATION / ZEK_CORE_LOCATION ".." when a "jlib" lies one level
// above the launcher's directory.
void DeriveInstallerLocations(Settings* settings);

// The Java locations from the (possibly staged) settings, relative ones made absolute
// against the working directory (the launcher's), then SOURCE and NLS_ENABLED.
void DeriveJavaLocations(const std::string& param_file, Settings* settings);

}  // namespace zorvex::config
