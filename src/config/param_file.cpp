#include "config/param_file.h"

#include "inventory/logs.h"
#include "launcher/exit_status.h"
#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/platform.h"

namespace zorvex::config {

namespace {

constexpr char kDefaultInstallClass[] = "zorvex.admkit.qii.qiic.QiicInstaller";
constexpr char kDefaultOneClickClass[] = "zorvex.admkit.qio.qioc.QiocOneClickInstaller";

// "..\stage\Components\{component}\{version}\1\DataFiles\"
std::string StagePath(const std::string& component, const std::string& version) {
  const std::string s = paths::Separator();
  return ".." + s + "stage" + s + "Components" + s + component + s + version + s + "1" + s +
         "DataFiles" + s;
}

void LogMessage(const std::string& key, const std::string& arg) {
  inventory::WriteLog(messages::FormatLogMessageText(key, {arg}));
}

void ReportParamFileInUse(const std::string& missing_given, const std::string& in_use) {
  if (missing_given.empty()) {
    LogMessage("S_USING_PARAMFILE", in_use);
    return;
  }
  messages::PrintMessage("S_ERUSR_PARAMFILE_NOT_FOUND", {missing_given});
  LogMessage("S_ERUSR_PARAMFILE_NOT_FOUND", missing_given);
  messages::PrintMessage("S_DEF_PARAMFILE", {in_use});
  LogMessage("S_DEF_PARAMFILE", in_use);
}

}  // namespace

std::string FindParamFile(const std::string& given, const std::string& startup_location,
                          std::vector<std::string>* tried) {
  if (!given.empty() && paths::FileExists(given)) return given;
  std::string launcher_dir;
  paths::GetCurrentDir(&launcher_dir);
  const std::string s = paths::Separator();
  for (const std::string& dir : {startup_location, launcher_dir}) {
    for (const std::string& candidate :
         {dir + s + kParamFileName, dir + s + ".." + s + kParamFileName}) {
      if (paths::FileExists(candidate)) return candidate;
      tried->push_back(candidate);
    }
  }
  return "";
}

void ReadSettings(const std::string& path, const std::string& launcher_dir,
                  const std::string& scratch_dir, Settings* st,
                  std::vector<std::string>* dropped_components) {
  OptionState& options = Options();
  auto whole = [&](const char* key, std::string* out, const std::string& def) {
    GetParamValue(key, out, def, path, ReadMode::kWhole);
  };
  auto first = [&](const char* key, std::string* out, const std::string& def) {
    GetParamValue(key, out, def, path, ReadMode::kFirstCharacter);
  };
  first("DISTRIBUTION", &st->distribution, "F");
  if (!options.jreloc_given) {
    whole("JRE_SCRATCH_LOC", &st->jre_scratch_loc, "");
    if (!st->jre_scratch_loc.empty()) {
      st->jre_scratch_location = scratch_dir + paths::Separator() + st->jre_scratch_loc;
    }
    whole("JRE_LOCATION", &options.jre_location, "");
    // Relative to the launcher's directory, the working directory now; made absolute
    // because Java may start in another one.
    if (!options.jre_location.empty())
      paths::GetFullPath(&options.jre_location, options.jre_location);
  }
  whole("ACCESS_DIR", &st->access_dir, "");
  whole("JRE_MEMORY_OPTIONS", &st->jre_memory_options, "");
  whole("ZEK_VERSION", &st->zek_version, "0.0.0.0.0");
  whole("JRE_VERSION", &st->jre_version, "");
  whole("USEJREONLY", &st->usejreonly, "FALSE");
  whole("USEJDKONLY", &st->usejdkonly, "FALSE");
  whole("DISABLE_JRE_PROMPT", &st->disable_jre_prompt, "FALSE");
  const bool distribution = StartsWithT(st->distribution);
  auto location_default = [&](const char* component) {
    return distribution ? StagePath(component, st->zek_version) : launcher_dir;
  };
  whole("ZEK_LOCATION", &st->zek_location, location_default("zorvex.swd.zek"));
  whole("ZEK_CORE_LOCATION", &st->zek_core_location, location_default("zorvex.swd.zek.core"));
  whole("ZPATCH_LOCATION", &st->zpatch_location, location_default("zorvex.swd.zpatch"));
  first("BOOTSTRAP", &st->bootstrap, "F");
  whole("BOOTSTRAP_SIZE", &st->bootstrap_size, "52");
  whole("THIN_JDBC_FILENAME", &st->thin_jdbc_filename, "");
  whole("JRE_OSDPARAM", &st->jre_osdparam, "");
  whole("ADDTO_CLASSPATH", &st->addto_classpath, "");
  whole("INSTALL_CLASS", &st->install_class, kDefaultInstallClass);
  whole("INSTALL_ONECLICK_CLASS", &st->install_oneclick_class, kDefaultOneClickClass);
  // A distribution medium always stages its installer.
  if (distribution) st->bootstrap = "TRUE";
  if (options.prereq_config_location.empty() || options.from_location_used) {
    std::string current = options.prereq_config_location;
    whole("PREREQ_CONFIG_LOCATION", &options.prereq_config_location, current);
  }
  first("WAIT_FOR_COMPLETION", &st->wait_for_completion, "F");
  whole("COPY_THREADS", &st->copy_threads, "0");
  whole("EXT_JLIB", &st->ext_jlib, "");
  whole("EXT_LIB", &st->ext_lib, "");
  whole("EXT_BIN", &st->ext_bin, "");
  std::string comps;
  GetParamValue("BOOTSTRAP_COMPS", &comps, "", path, ReadMode::kWhole);
  st->bootstrap_comps = SplitBootstrapComps(comps, dropped_components);
}

namespace {

void LogDroppedComponents(const std::vector<std::string>& dropped, const std::string& scratch_dir) {
  if (dropped.empty()) return;
  std::string names;
  for (const std::string& name : dropped) names += (names.empty() ? "" : ", ") + name;
  OptionState& options = Options();
  inventory::OpenLog(scratch_dir, options.timestamp, options.log_stem);
  inventory::WriteLog("BOOTSTRAP_COMPS names more than " + std::to_string(kMaxBootstrapComponents) +
                      " components; these are not bootstrapped: " + names + "\n");
  inventory::CloseLog();
}

}  // namespace

const std::vector<ParamKey> kParamKeys = {
    {"DISTRIBUTION", KeyReading::kStartsWithT, &Settings::distribution, nullptr},
    {"JRE_SCRATCH_LOC", KeyReading::kText, &Settings::jre_scratch_loc, nullptr},
    {"JRE_LOCATION", KeyReading::kPath, nullptr, nullptr},
    {"ACCESS_DIR", KeyReading::kPath, &Settings::access_dir, nullptr},
    {"JRE_MEMORY_OPTIONS", KeyReading::kText, &Settings::jre_memory_options, nullptr},
    {"ZEK_VERSION", KeyReading::kText, &Settings::zek_version, nullptr},
    {"JRE_VERSION", KeyReading::kText, &Settings::jre_version, nullptr},
    {"USEJREONLY", KeyReading::kExactlyTrue, &Settings::usejreonly, nullptr},
    {"USEJDKONLY", KeyReading::kExactlyTrue, &Settings::usejdkonly, nullptr},
    {"DISABLE_JRE_PROMPT", KeyReading::kExactlyTrue, &Settings::disable_jre_prompt, nullptr},
    {"ZEK_LOCATION", KeyReading::kPath, &Settings::zek_location, nullptr},
    {"ZEK_CORE_LOCATION", KeyReading::kPath, &Settings::zek_core_location, nullptr},
    {"ZPATCH_LOCATION", KeyReading::kPath, &Settings::zpatch_location, nullptr},
    {"BOOTSTRAP", KeyReading::kStartsWithT, &Settings::bootstrap, nullptr},
    {"BOOTSTRAP_SIZE", KeyReading::kNumber, &Settings::bootstrap_size, nullptr},
    {"THIN_JDBC_FILENAME", KeyReading::kText, &Settings::thin_jdbc_filename, nullptr},
    {"JRE_OSDPARAM", KeyReading::kText, &Settings::jre_osdparam, nullptr},
    {"ADDTO_CLASSPATH", KeyReading::kList, &Settings::addto_classpath, nullptr},
    {"INSTALL_CLASS", KeyReading::kText, &Settings::install_class, nullptr},
    {"INSTALL_ONECLICK_CLASS", KeyReading::kText, &Settings::install_oneclick_class, nullptr},
    {"PREREQ_CONFIG_LOCATION", KeyReading::kPath, nullptr, nullptr},
    {"WAIT_FOR_COMPLETION", KeyReading::kStartsWithT, &Settings::wait_for_completion, nullptr},
    {"COPY_THREADS", KeyReading::kText, &Settings::copy_threads, nullptr},
    {"EXT_JLIB", KeyReading::kPath, &Settings::ext_jlib, nullptr},
    {"EXT_LIB", KeyReading::kPath, &Settings::ext_lib, nullptr},
    {"EXT_BIN", KeyReading::kPath, &Settings::ext_bin, nullptr},
    {"BOOTSTRAP_COMPS", KeyReading::kList, nullptr, nullptr},
    {"PLATFORM_PREREQS", KeyReading::kStartsWithT, nullptr, "FALSE"},
    {"SOURCE", KeyReading::kText, nullptr, ""},
    {"NLS_ENABLED", KeyReading::kText, nullptr, "TRUE"},
};

void GetParamValue(const std::string& key, std::string* out, const std::string& default_value,
                   const std::string& path, ReadMode mode) {
  std::string value = platform::Os().system->ProfileString(kMainSection, key, default_value, path);
  if (value.empty()) value = default_value;
  if (mode == ReadMode::kFirstCharacter && value.size() > 1) value.resize(1);
  *out = value;
}

std::vector<std::string> SplitBootstrapComps(const std::string& value,
                                             std::vector<std::string>* dropped) {
  std::vector<std::string> comps;
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t comma = value.find(',', pos);
    if (comma == std::string::npos) comma = value.size();
    std::string item = value.substr(pos, comma - pos);
    pos = comma + 1;
    if (item.empty()) continue;
    (comps.size() < kMaxBootstrapComponents ? comps : *dropped).push_back(item);
  }
  return comps;
}

int ReadParameterFile(std::string* param_file, std::string* scratch_dir,
                      std::string* startup_location, Settings* settings) {
  OptionState& options = Options();
  std::string launcher_dir;
  inventory::OpenLog(*scratch_dir, options.timestamp, options.log_stem);
  const std::string given = *param_file;
  std::vector<std::string> tried;
  std::string found = FindParamFile(given, *startup_location, &tried);
  for (const std::string& path : tried) LogMessage("S_ERZORPARAMNFD_LOC", path);
  if (found.empty()) {
    messages::ShowError(messages::MessageText("S_ERZORPARAMNFD"));
    inventory::WriteLog(messages::LogMessageText("S_ERZORPARAMNFD"));
    inventory::CloseLog();
    return kExitNoParameterFile;
  }
  paths::GetFullPath(param_file, found);
  ReportParamFileInUse(found == given ? "" : given, *param_file);
  inventory::CloseLog();
  platform::Os().files->SetWorkingDirectory(*startup_location);
  if (!paths::GetCurrentDir(&launcher_dir)) return kExitRunEnded;
  *startup_location = launcher_dir;
  std::vector<std::string> dropped;
  ReadSettings(*param_file, launcher_dir, *scratch_dir, settings, &dropped);
  LogDroppedComponents(dropped, *scratch_dir);
  return 0;
}

void DeriveInstallerLocations(Settings* settings) {
  std::string dir;
  paths::GetCurrentDir(&dir);
  const std::string s = paths::Separator();
  settings->images_location.clear();
  for (const std::string& candidate : {dir + s + "images", dir + s + ".." + s + "images"}) {
    if (paths::FileExists(candidate)) {
      settings->images_location = candidate;
      break;
    }
  }
  std::string jlib = dir;
  paths::AppendPath(&jlib, "..");
  paths::AppendPath(&jlib, "jlib");
  if (paths::FileExists(jlib)) {
    settings->zek_location = "..";
    settings->zek_core_location = "..";
  }
}

namespace {

// A relative location from the parameter file means the launcher's directory, the working
// directory while the file is read and until Java is prepared; Java itself starts in the
// temporary directory, where the same text would name another place. Empty stays empty.
void MakeAbsolute(std::string* location) {
  if (!location->empty() && !paths::IsAbsolutePath(*location, *platform::Os().style)) {
    paths::GetFullPath(location, *location);
  }
}

}  // namespace

void DeriveJavaLocations(const std::string& param_file, Settings* st) {
  const std::string s = paths::Separator();
  for (std::string* location : {&st->zek_location, &st->zek_core_location, &st->zpatch_location,
                                &Options().jre_location, &Options().prereq_config_location}) {
    MakeAbsolute(location);
  }
  st->jre_bin_location = Options().jre_location;
  paths::AppendPath(&st->jre_bin_location, "bin");
  MakeAbsolute(&st->jre_bin_location);
  st->library_location = st->zek_core_location + s + "lib" + s + "win64";
  st->zek_core_jlib_location = st->zek_core_location + s + "jlib";
  st->zek_jlib_location = st->zek_location + s + "jlib";
  st->zpatch_jlib_location = st->zpatch_location + s + "jlib";
  GetParamValue("SOURCE", &st->source, "", param_file, ReadMode::kWhole);
  GetParamValue("NLS_ENABLED", &st->nls_enabled, "TRUE", param_file, ReadMode::kWhole);
}

}  // namespace zorvex::config
