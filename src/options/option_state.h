// The flags and values that the command line sets and the rest of the launcher reads.
// Plain data: set up with its defaults at the start of the run, written by the option scan
// and mode selection, read everywhere else.
#pragma once

#include <optional>
#include <string>

namespace zorvex {

inline constexpr char kDefaultLogStem[] = "installActions";
inline constexpr char kMeridalTitle[] = "Meridal Installer";
inline constexpr char kPrereqCheckerTitle[] = "Prerequisite Checker";

struct OptionState {
  // Valued options.
  std::string param_file;    // -paramFile
  std::string scratch_path;  // -rscratchPath
  bool scratch_path_given = false;
  std::string startup_loc;  // -rstartupLoc
  bool startup_loc_given = false;
  std::string jre_location;              // -jreLoc (JRE_LOCATION)
  bool jreloc_given = false;             // JRELOC_GIVEN
  std::optional<std::string> j_options;  // J_OPTIONS, absent unless "-J" occurs
  bool memory_option_given = false;      // "-mx" inside J_OPTIONS

  // Flags.
  bool silent = false;
  bool debug = false;
  bool printtime = false;
  bool memory = false;
  bool prereqchecker = false;
  bool noconsole = false;
  bool ignoresysprereqs = false;
  bool executesysprereqs = false;
  bool waitforcompletion = false;
  bool bootstraponly = false;
  bool nobootstrap = false;
  bool help = false;
  bool oneclick = false;
  bool from_location_used = false;  // FROM_LOCATION_USED

  // Mode flags.
  bool preclonesetup = false;
  bool updatenodelist = false;
  bool attachhome = false;
  bool relink = false;
  bool cleanup = false;
  bool saveinventory = false;
  bool removehome = false;
  bool detachhome = false;
  bool updatehomedeps = false;
  bool addnode = false;

  // Texts. The log stem is a file-name stem; the separator is put before it when a log
  // path is made, so that the same stem serves both targets.
  std::string log_stem = kDefaultLogStem;  // LOG_STEM
  std::string installer_title = kMeridalTitle;
  std::string prereqlogloc;            // PREREQLOGLOC
  std::string bootstrap_loc;           // BOOTSTRAP_LOC
  std::string jvm_options;             // JVM_OPTIONS
  std::string prereq_config_location;  // PREREQ_CONFIG_LOCATION
  std::string main_class;              // MAIN_CLASS
  // The run timestamp: taken at the start, replaced by -rtimestamp unless its value could
  // not name a directory (a separator or ".."), which the install log then records.
  std::string timestamp;
  std::optional<std::string> timestamp_option;
  bool timestamp_refused = false;
};

// The options of the run in progress.
OptionState& Options();

}  // namespace zorvex
