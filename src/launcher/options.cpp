#include "launcher/options.h"

#include <cctype>

#include "launcher/process.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/platform.h"
#include "safetree/tree.h"

namespace zorvex {

namespace {

constexpr char kPrereqLogLoc[] = "-PREREQLOGLOC";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A path given on the command line means what it meant where the user typed it: the
// launcher changes its working directory during the run, so the path is made absolute now.
void MakeAbsolute(std::string* path) {
  if (!path->empty()) paths::GetFullPath(path, *path);
}

// The first occurrence of "NAME=" in the upper-cased text, or npos.
size_t FindAssignment(const std::string& upper, const std::string& name) {
  for (size_t p = upper.find(name); p != std::string::npos; p = upper.find(name, p + 1)) {
    if (p + name.size() < upper.size() && upper[p + name.size()] == '=') return p;
  }
  return std::string::npos;
}

void Assign(AssignmentVariant variant, const std::string& text, const std::string& upper,
            const std::string& name, std::string* target) {
  size_t p = FindAssignment(upper, name);
  if (p != std::string::npos) ParseAssignment(variant, text, p, name, target);
}

// The value of a valued option whose name ends at `begin`: up to the next " -", searched
// from one character past the name, trimmed.
std::string ValueAfter(const std::string& text, size_t begin) {
  size_t end = begin + 1 <= text.size() ? text.find(" -", begin + 1) : std::string::npos;
  if (end == std::string::npos) end = text.size();
  std::string value = text.substr(begin, end - begin);
  TrimBlanks(&value);
  return value;
}

// -PREREQLOGLOC takes the argument after it when it stands alone, otherwise the text
// after the word (found in any letter case) up to the next " -".
void ScanPrereqLogLoc(const std::string& text, const std::string& upper, size_t index,
                      std::vector<std::string>* args, size_t* consumed) {
  OptionState& o = Options();
  if (text == kPrereqLogLoc && index + 1 < args->size()) {
    o.prereqlogloc = (*args)[index + 1];
    MakeAbsolute(&o.prereqlogloc);
    *consumed = index + 1;
    return;
  }
  std::string value = ValueAfter(text, upper.find(kPrereqLogLoc) + sizeof(kPrereqLogLoc) - 1);
  MakeAbsolute(&value);
  if (!value.empty()) o.prereqlogloc = value;
}

// The flag words, searched in this order. Several mode options write LOG_STEM: the last
// one found in this order wins.
struct FlagWord {
  const char* word;
  bool OptionState::*flag;
  bool silent;           // the option also makes the run silent
  const char* log_stem;  // the mode's own install log name, or null
};

const FlagWord kFlagWords[] = {
    {"-PRECLONESETUP", &OptionState::preclonesetup, false, nullptr},
    {"-UPDATENODELIST", &OptionState::updatenodelist, true, "UpdateNodeList"},
    {"-ATTACHHOME", &OptionState::attachhome, true, "AttachHome"},
    {"-RELINK", &OptionState::relink, true, nullptr},
    {"-CLEANUP", &OptionState::cleanup, false, "Cleanup"},
    {"-SAVEINVENTORY", &OptionState::saveinventory, false, "SaveInventory"},
    {"-REMOVEHOME", &OptionState::removehome, false, "RemoveHome"},
    {"-BOOTSTRAPONLY", &OptionState::bootstraponly, true, nullptr},
    {"-NOBOOTSTRAP", &OptionState::nobootstrap, false, nullptr},
    {"-PRINTTIME", &OptionState::printtime, false, nullptr},
    {"-DETACHHOME", &OptionState::detachhome, true, "DetachHome"},
    {"-UPDATEHOMEDEPS", &OptionState::updatehomedeps, true, "UpdateHomeDeps"},
    {"-ADDNODE", &OptionState::addnode, false, nullptr},
    {"-PREREQCHECKER", &OptionState::prereqchecker, false, nullptr},
    {"-SILENT", &OptionState::silent, false, nullptr},
    {"-WAITFORCOMPLETION", &OptionState::waitforcompletion, false, nullptr},
    {"-HELP", &OptionState::help, true, nullptr},
    {"-DEBUG", &OptionState::debug, false, nullptr},
    {"-MEMORY", &OptionState::memory, false, nullptr},
    {"-IGNORESYSPREREQS", &OptionState::ignoresysprereqs, false, nullptr},
    {"-EXECUTESYSPREREQS", &OptionState::executesysprereqs, false, nullptr},
    {"-NOCONSOLE", &OptionState::noconsole, false, nullptr},
    {"-ONECLICK", &OptionState::oneclick, false, nullptr},
};

// Applies every flag word and assignment found anywhere in one argument.
void ApplyFlags(const std::string& text, const std::string& upper, size_t index,
                std::vector<std::string>* args, size_t* consumed) {
  OptionState& o = Options();
  auto has = [&](const char* word) { return upper.find(word) != std::string::npos; };
  for (const FlagWord& f : kFlagWords) {
    if (!has(f.word)) continue;
    o.*f.flag = true;
    if (f.silent) o.silent = true;
    if (f.log_stem != nullptr) o.log_stem = f.log_stem;
  }
  if (o.prereqchecker) o.installer_title = kPrereqCheckerTitle;
  if (has(kPrereqLogLoc)) ScanPrereqLogLoc(text, upper, index, args, consumed);
  if (has("BOOTSTRAP_LOC")) {
    Assign(AssignmentVariant::kBootstrapLoc, text, upper, "BOOTSTRAP_LOC", &o.bootstrap_loc);
    paths::NormalizeWindowsPath(&o.bootstrap_loc, *platform::Os().style);
    MakeAbsolute(&o.bootstrap_loc);
  }
  if (has("JVM_OPTIONS")) {
    Assign(AssignmentVariant::kJvmOptions, text, upper, "JVM_OPTIONS", &o.jvm_options);
  }
  // A PREREQ_CONFIG_LOCATION assignment wins over FROM_LOCATION, which is only read when
  // no location is set yet.
  if (has("PREREQ_CONFIG_LOCATION")) {
    o.from_location_used = false;
    Assign(AssignmentVariant::kPrereqDirectory, text, upper, "PREREQ_CONFIG_LOCATION",
           &o.prereq_config_location);
  }
  if (has("FROM_LOCATION") && o.prereq_config_location.empty()) {
    o.from_location_used = true;
    Assign(AssignmentVariant::kPrereqFile, text, upper, "FROM_LOCATION", &o.prereq_config_location);
  }
}

// Pass 1: the valued options, case-sensitive, in the joined argument text.
void ScanValuedOptions(const std::vector<std::string>& args) {
  OptionState& o = Options();
  std::string joined = JoinArguments(args, false);
  ScanOptionValue("-paramFile", joined, &o.param_file);
  MakeAbsolute(&o.param_file);
  if (joined.find("-rscratchPath") != std::string::npos) {
    ScanOptionValue("-rscratchPath", joined, &o.scratch_path);
    // Typed in quotes, as users quote a path with blanks: the path is what they enclose.
    std::string& path = o.scratch_path;
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
      path = path.substr(1, path.size() - 2);
    }
    // "\\?\C:\x" is C:\x on Windows, and "C:\x." too: one name for one directory.
    paths::NormalizeWindowsPath(&o.scratch_path, *platform::Os().style);
    // "Y:" alone is the drive's root here too, not the current directory of that drive:
    // it stays as it is, to be refused.
    if (!paths::IsRootDirectory(o.scratch_path, *platform::Os().style)) {
      MakeAbsolute(&o.scratch_path);
    }
    o.scratch_path_given = true;
  }
  if (joined.find("-rstartupLoc") != std::string::npos) {
    ScanOptionValue("-rstartupLoc", joined, &o.startup_loc);
    MakeAbsolute(&o.startup_loc);
    o.startup_loc_given = true;
  }
  if (joined.find("-rtimestamp") != std::string::npos) {
    std::string stamp;
    ScanOptionValue("-rtimestamp", joined, &stamp);
    o.timestamp_option = stamp;
  }
  if (joined.find("-jreLoc") != std::string::npos) {
    ScanOptionValue("-jreLoc", joined, &o.jre_location);
    MakeAbsolute(&o.jre_location);
    o.jreloc_given = true;
  }
}

// A timestamp names the scratch directory and the log files, so it must stay one name.
void ApplyTimestampOption() {
  OptionState& o = Options();
  if (!o.timestamp_option) return;
  const std::string& stamp = *o.timestamp_option;
  char sep = platform::Os().style->separator;
  // On Windows the names it makes must be read as written: "T." or a date as some locales
  // write it ("2026. 12. 08.") would name one directory when made and another when used.
  std::string windows_name = "ZorInstall" + stamp;
  const bool read_otherwise =
      platform::Os().style->drive_letters && safetree::MakeWindowsName(&windows_name);
  if (stamp.find(sep) != std::string::npos || stamp.find('/') != std::string::npos ||
      stamp.find("..") != std::string::npos || read_otherwise) {
    o.timestamp_refused = true;
    return;
  }
  o.timestamp = stamp;
}

}  // namespace

void TrimBlanks(std::string* text) {
  size_t end = text->size();
  while (end > 0 && std::isspace(static_cast<unsigned char>((*text)[end - 1]))) --end;
  size_t begin = 0;
  while (begin < end && std::isspace(static_cast<unsigned char>((*text)[begin]))) ++begin;
  *text = text->substr(begin, end - begin);
}

std::string ToUpperAscii(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

void ScanOptionValue(const std::string& name, const std::string& text, std::string* target) {
  if (text.empty()) return;
  size_t p = text.find(name);
  if (p == std::string::npos) return;
  *target = ValueAfter(text, p + name.size());
}

void ParseAssignment(AssignmentVariant variant, const std::string& text, size_t name_pos,
                     const std::string& name, std::string* target) {
  size_t begin = name_pos + name.size();
  if (begin >= text.size() || text[begin] != '=') return;
  ++begin;
  std::string value;
  if (begin < text.size() && text[begin] == '"') {
    size_t close = text.find('"', begin + 1);
    value =
        text.substr(begin + 1, close == std::string::npos ? std::string::npos : close - begin - 1);
  } else {
    size_t end = begin;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    value = text.substr(begin, end - begin);
  }
  if (value.empty()) return;
  switch (variant) {
    case AssignmentVariant::kBootstrapLoc:
    case AssignmentVariant::kJvmOptions:
      *target = value;
      return;
    case AssignmentVariant::kPrereqDirectory:
      paths::GetFullPath(target, value);
      return;
    case AssignmentVariant::kPrereqFile: {
      std::string dir = value;
      paths::StripLastComponent(value, &dir);
      paths::GetFullPath(target, dir + platform::Os().style->separator + "prereq");
      return;
    }
  }
}

void ScanOptions(std::vector<std::string>* args, std::string* last_argument_upper) {
  if (args->empty()) return;
  ScanValuedOptions(*args);
  ApplyTimestampOption();
  OptionState& o = Options();
  o.installer_title = kMeridalTitle;
  for (size_t i = 0; i < args->size(); ++i) {
    std::string& arg = (*args)[i];
    const std::string original = arg;
    *last_argument_upper = ToUpperAscii(original);
    // Only the command line carries Java options: a "-J" in the launcher's own path (a
    // medium under C:\Tools\Acme-Java) is part of a directory name.
    size_t j = i == 0 ? std::string::npos : arg.find("-J");
    if (j != std::string::npos) {
      // Everything after "-J" goes to Java; the launcher sees only the text before it.
      o.j_options = original.substr(j + 2);
      if (o.j_options->find("-mx") != std::string::npos) o.memory_option_given = true;
      arg.resize(j);
    }
    size_t consumed = i;
    ApplyFlags(original, *last_argument_upper, i, args, &consumed);
    i = consumed;
  }
}

bool SelectMode(config::Settings* settings) {
  OptionState& o = Options();
  o.main_class = settings->install_class;
  struct Mode {
    bool flag;
    const char* main_class;  // null: unchanged
    bool bootstrap_off;
    bool distribution_check;
  };
  const Mode modes[] = {
      {o.preclonesetup, "zorvex.admkit.qii.qiic.QiicPreCloneSetup", false, true},
      {o.prereqchecker, "zorvex.admkit.qip.qipc.qipcc.QipccPrereqApp", false, false},
      {o.updatenodelist, "zorvex.admkit.qii.qiic.QiicUpdateNodeList", true, true},
      {o.attachhome, "zorvex.admkit.qii.qiic.QiicAttachHome", false, false},
      {o.relink, "zorvex.admkit.qii.qiis.QiisMakeDeps", false, false},
      {o.removehome, "zorvex.admkit.qii.qiic.QiicRemoveHome", true, true},
      {o.detachhome, "zorvex.admkit.qii.qiic.QiicDetachHome", true, true},
      {o.updatehomedeps, "zorvex.admkit.qii.qiic.QiicUpdateHomeDeps", false, false},
      {o.addnode, nullptr, true, true},
      {o.cleanup, "zorvex.admkit.qii.qiic.QiicCleanup", false, false},
      {o.saveinventory, "zorvex.admkit.qii.qiic.QiicSaveInventory", false, false},
  };
  for (const Mode& mode : modes) {
    if (!mode.flag) continue;
    if (mode.main_class != nullptr) o.main_class = mode.main_class;
    if (mode.bootstrap_off) settings->bootstrap = "F";
    return mode.distribution_check;
  }
  if (o.oneclick) o.main_class = settings->install_oneclick_class;
  return false;
}

}  // namespace zorvex
