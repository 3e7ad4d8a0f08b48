#include "launcher/java_command.h"

#include <algorithm>
#include <cctype>

#include "access/guard.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/command_line.h"
#include "platform/platform.h"

namespace zorvex {

const std::vector<std::string> kCoreJars = {
    "zorcore.jar",   "zorutil.jar",      "zorlogging.jar",   "zorplatform.jar",
    "zorfileio.jar", "zorinventory.jar", "zorxmlparser.jar", "zorxmlschema.jar",
    "zornls.jar",    "zorregistry.jar",  "zorsecurity.jar",  "zornative.jar"};
const std::vector<std::string> kPatchJars = {"zpatch.jar", "zpatchcore.jar", "zpatchactions.jar",
                                             "zpatchprereq.jar"};
const std::vector<std::string> kInstallerJars = {
    "zorinstaller.jar",    "zorinstallerui.jar", "zorwizard.jar",   "zorprereq.jar",
    "zorprereqchecks.jar", "zoractions.jar",     "zorhelp.jar",     "zorhelpviewer.jar",
    "zorswing.jar",        "zorfonts.jar",       "zorclone.jar",    "zorhomes.jar",
    "zornodes.jar",        "zorconfig.jar",      "zorresponse.jar", "zorsilent.jar",
    "zorversions.jar",     "zorreports.jar"};
const std::vector<std::string> kExtraJars = {
    "zorextensions.jar", "zorembedded.jar", "zorjdbc.jar",    "zornetwork.jar",
    "zorservices.jar",   "zorscripts.jar",  "zoroneclick.jar"};

namespace {

char ClassPathSep() { return platform::Os().style->class_path_separator; }

// Every quoted element is written so that Java receives the value exactly, whatever
// backslashes or double quotes it holds (a directory ending in "\", a quote in a POSIX path).
std::string Quoted(const std::string& text) { return platform::QuoteAlways(text); }

// Blank-separated words; runs of blanks give no empty words.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text + " ") {
    if (c != ' ') {
      word.push_back(c);
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  return words;
}

void AppendJars(std::string* out, const std::string& dir, const std::vector<std::string>& jars,
                bool separator_after) {
  for (const std::string& jar : jars) {
    if (!separator_after) out->push_back(ClassPathSep());
    *out += dir + paths::Separator() + jar;
    if (separator_after) out->push_back(ClassPathSep());
  }
}

// Drops the options that only concern the launcher from the forwarded arguments.
void ForwardArguments(const std::vector<std::string>& arguments, std::vector<std::string>* list) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "-rstartupLoc" || arg == "-rscratchPath" || arg == "-rtimestamp") {
      ++i;
      continue;
    }
    if (arg == "-nobootStrap") continue;
    list->push_back(arg);
  }
}

// Two levels above the launcher's directory without a distribution: written out in full,
// since Java starts elsewhere.
std::string JreLocation(const config::Settings& st, const std::string& launcher_dir) {
  if (config::StartsWithT(st.distribution)) return Options().jre_location;
  std::string location;
  paths::GetFullPath(&location, launcher_dir + paths::Separator() + ".." + paths::Separator() + ".." + paths::Separator() + "jre");
  return location;
}

}  // namespace

bool IsHttpUrl(const std::string& text) {
  if (text.size() < 8) return false;
  std::string scheme = text.substr(0, 7);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme == "http://";
}

std::string BuildAddToClassPath(const std::string& scratch_dir, const std::string& addto) {
  std::string out;
  size_t pos = 0;
  while (pos <= addto.size()) {
    size_t end = addto.find(';', pos);
    if (end == std::string::npos) end = addto.size();
    std::string entry = addto.substr(pos, end - pos);
    pos = end + 1;
    if (!entry.empty()) out += scratch_dir + paths::Separator() + entry + ClassPathSep();
  }
  return out;
}

std::string ListExtJlibJars(const std::string& scratch_dir, const std::string& ext_jlib) {
  if (ext_jlib.empty()) return "";
  const std::string dir = scratch_dir + paths::Separator() + "ext" + paths::Separator() + "jlib" + paths::Separator();
  std::vector<platform::DirEntry> entries;
  if (!platform::Os().files->ListDirectory(dir, &entries)) return "";
  std::string out;
  for (const platform::DirEntry& entry : entries) {
    if (!entry.is_directory) out += ClassPathSep() + dir + entry.name;
  }
  out.push_back(ClassPathSep());
  return out;
}

namespace {

// Java reads an empty class-path entry as its working directory: classes put there would
// come ahead of the installer's. The templates leave empty entries where a part is empty
// (no EXT_JLIB files, no ADDTO_CLASSPATH, no thin JDBC jar) and after their last entry; they
// go here, and so do entries of a verified medium that Java is not to read (see
// access::ForJava). The real entries keep their order.
std::string KeepEntries(const std::string& class_path, bool staged) {
  std::string out;
  size_t pos = 0;
  while (pos <= class_path.size()) {
    size_t end = class_path.find(ClassPathSep(), pos);
    if (end == std::string::npos) end = class_path.size();
    if (end > pos && access::ForJava(class_path.substr(pos, end - pos), true, staged)) {
      if (!out.empty()) out.push_back(ClassPathSep());
      out.append(class_path, pos, end - pos);
    }
    pos = end + 1;
  }
  return out;
}

}  // namespace

std::string BuildClassPath(const std::string& scratch_dir, const config::Settings& st) {
  std::string first = scratch_dir + ClassPathSep() + ListExtJlibJars(scratch_dir, st.ext_jlib);
  std::string core;
  AppendJars(&core, st.zek_core_jlib_location, kCoreJars, false);
  AppendJars(&core, st.zpatch_jlib_location, kPatchJars, false);
  first += core;
  std::string cp = first + ClassPathSep();
  AppendJars(&cp, st.zek_jlib_location, kInstallerJars, true);
  // No bare separator entry after ADDTO_CLASSPATH: it would name the root of the working
  // directory's drive, where any local user may put classes or service descriptors.
  cp += BuildAddToClassPath(scratch_dir, st.addto_classpath);
  AppendJars(&cp, st.zek_jlib_location, kExtraJars, true);
  if (!st.thin_jdbc_filename.empty()) cp += st.zek_jlib_location + paths::Separator() + st.thin_jdbc_filename;
  return Quoted(KeepEntries(cp, config::StartsWithT(st.bootstrap)));
}

void AddSourceLocation(const std::string& source, std::vector<std::string>* list,
                       const std::string& startup_location) {
  if (source.empty()) return;
  std::string location = source;
  if (!IsHttpUrl(source) && !paths::IsAbsolutePath(source, *platform::Os().style)) {
    location = startup_location;
    paths::AppendPath(&location, source);
  }
  list->push_back("-sourceLoc");
  list->push_back(Quoted(location) + " ");
}

namespace {

// A path Java is handed: on a verified medium, refused when it names something planted
// beside what the manifest lists (see access::ForJava).
const std::string& Checked(const std::string& path, bool staged) {
  access::ForJava(path, false, staged);
  return path;
}

}  // namespace

std::vector<std::string> BuildJavaArguments(JavaCommandInputs in) {
  const config::Settings& st = *in.settings;
  const OptionState& o = Options();
  const bool staged = config::StartsWithT(st.bootstrap);
  std::vector<std::string> list;
  std::string exe = st.jre_bin_location.empty() ? in.executable_name
                                                : st.jre_bin_location + paths::Separator() + in.executable_name;
  list.push_back(Quoted(Checked(exe, staged)) + " ");
  if (!st.jre_osdparam.empty()) list.push_back(st.jre_osdparam);
  list.push_back("-Dzorvex.installer.library_loc=" + Quoted(Checked(st.library_location, staged)));
  std::string launcher_dir;
  paths::GetCurrentDir(&launcher_dir);
  // A relative ZEK_CORE_LOCATION lies below the launcher's directory; the default, the
  // launcher's own absolute directory, stands as it is.
  std::string zek = staged ? in.scratch_dir + paths::Separator() + "zek"
                    : paths::IsAbsolutePath(st.zek_core_location, *platform::Os().style)
                        ? st.zek_core_location
                        : launcher_dir + paths::Separator() + st.zek_core_location;
  list.push_back("-Dzorvex.installer.zek_loc=" + Quoted(Checked(zek, staged)));
  list.push_back(std::string("-Dzorvex.installer.bootstrap=") + (staged ? "TRUE" : "FALSE"));
  if (o.startup_loc_given) in.startup_location = o.startup_loc;
  list.push_back("-Dzorvex.installer.startup_location=" + Quoted(in.startup_location));
  list.push_back("-Dzorvex.installer.jre_loc=" +
                 Quoted(Checked(JreLocation(st, launcher_dir), staged)));
  if (in.extjre) list.push_back("-Dzorvex.installer.extjre=" + Quoted("true") + " ");
  if (st.copy_threads != "0")
    list.push_back("-Dzorvex.installer.copythreads=" + st.copy_threads + " ");
  list.push_back("-Dzorvex.installer.exec_location=" + Quoted(in.exec_path) + " ");
  list.push_back("-Dzorvex.installer.nlsEnabled=" + Quoted(st.nls_enabled) + " ");
  list.push_back("-Dzorvex.installer.prereqConfigLoc=" +
                 Quoted(Checked(o.prereq_config_location, staged)) + " ");
  list.push_back("");
  if (!o.memory_option_given) {
    for (const std::string& word : Words(st.jre_memory_options)) list.push_back(word);
  }
  for (const std::string& word : Words(o.jvm_options)) list.push_back(word);
  if (o.j_options) list.push_back(*o.j_options);
  if (o.memory) list.push_back("-verbose:gc");
  list.push_back("-cp");
  list.push_back(BuildClassPath(in.scratch_dir, st));
  list.push_back(o.oneclick ? st.install_oneclick_class : o.main_class);
  list.push_back("-scratchPath");
  list.push_back(Quoted(in.scratch_dir) + " ");
  AddSourceLocation(st.source, &list, in.startup_location);
  list.insert(list.end(), {"-sourceType", "network", "-timestamp", o.timestamp});
  ForwardArguments(in.arguments, &list);
  return list;
}

}  // namespace zorvex
