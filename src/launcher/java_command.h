// The Java argument list: executable, properties that hand the launcher's findings to the
// installer, memory and JVM options, class path, main class, installer arguments and the
// user's own command line.
#pragma once

#include <string>
#include <vector>

#include "config/settings.h"

namespace zorvex {

// The installer's libraries, by the directory the class path names them in.
extern const std::vector<std::string> kCoreJars;       // 12, in ZEK_CORE_JLIB_LOCATION
extern const std::vector<std::string> kPatchJars;      // 4, in ZPATCH_JLIB_LOCATION
extern const std::vector<std::string> kInstallerJars;  // 18, in ZEK_JLIB_LOCATION
extern const std::vector<std::string> kExtraJars;      // 7, in ZEK_JLIB_LOCATION, after ADDTO

struct JavaCommandInputs {
  const config::Settings* settings = nullptr;
  std::string executable_name;   // "javaw.exe" or "java.exe" (both "java" on POSIX)
  std::string startup_location;  // STARTUP_LOCATION
  std::string scratch_dir;
  std::string exec_path;               // the launcher's own path
  bool extjre = false;                 // EXTJRE
  std::vector<std::string> arguments;  // the launcher's arguments, module path first
};

// True when the text is at least 8 characters and begins with "http://" in any case.
bool IsHttpUrl(const std::string& text);

// The ADDTO_CLASSPATH entries below the scratch directory, each followed by the separator.
std::string BuildAddToClassPath(const std::string& scratch_dir, const std::string& addto);

// ";" and each file of {scratch}/ext/jlib/, then a closing ";"; empty without EXT_JLIB or
// when the directory cannot be listed.
std::string ListExtJlibJars(const std::string& scratch_dir, const std::string& ext_jlib);

// The class path: one text in double quotes, without an empty entry.
std::string BuildClassPath(const std::string& scratch_dir, const config::Settings& settings);

// Appends "-sourceLoc" and the quoted source location when SOURCE is set.
void AddSourceLocation(const std::string& source, std::vector<std::string>* list,
                       const std::string& startup_location);

// The whole Java argument list.
std::vector<std::string> BuildJavaArguments(JavaCommandInputs inputs);

}  // namespace zorvex
