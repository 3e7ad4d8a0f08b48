// zorvex-medium check: the medium as the launcher reads it. Every format is read by the
// launcher's own code (the parameter file, the catalogues, the version choice, the Java
// command line), so that the check cannot drift from the launcher. Nothing is written.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "bootstrap/bootstrap_driver.h"
#include "bootstrap/components.h"
#include "bootstrap/version.h"
#include "config/ini_reader.h"
#include "config/param_file.h"
#include "launcher/java_command.h"
#include "medium/bom.h"
#include "medium/jar_writer.h"
#include "medium/manifest_tool.h"
#include "medium/medium.h"
#include "medium/report.h"
#include "medium/sign.h"
#include "messages/catalogue.h"
#include "messages/format.h"
#include "messages/message_keys.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/forwarding.h"
#include "platform/platform.h"
#include "platform/profile_string.h"
#include "prereq/checks.h"
#include "prereq/prereq_engine.h"
#include "run/run_context.h"
#include "unzip/inflate.h"
#include "unzip/system.h"
#include "unzip/zip_archive.h"

namespace zorvex::medium {

namespace {

constexpr char kAbsent[] =
    "\x01"
    "absent";

// The native system, but answering for the medium's launcher where the launcher asks for
// its own path.
class MediumSystem : public platform::ForwardingSystem {
 public:
  MediumSystem(platform::System* native, std::string launcher)
      : ForwardingSystem(native), launcher_(std::move(launcher)) {}
  bool ModulePath(std::string* path, uint32_t*) override {
    *path = launcher_;
    return true;
  }

 private:
  std::string launcher_;
};

// A console that keeps what the launcher's code prints, for the report, and never reads.
class CapturingConsole : public platform::Console {
 public:
  void UseStandardOutput() override {}
  void Create(const std::string&) override {}
  void Print(const std::string& utf8) override { printed += utf8; }
  void WriteStdout(const std::string& bytes) override { printed += bytes; }
  void WriteStderr(const std::string& bytes) override { errors += bytes; }
  void FlushStdout() override {}
  void ShowMessageBox(const std::string&, const std::string& text) override { printed += text; }
  int ReadChar() override { return -1; }
  bool PersonCanAnswer() override { return false; }
  void DiscardPendingInput() override {}
  bool IsInteractive() override { return false; }
  std::string printed, errors;
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The entry names of every jar of a directory.
std::set<std::string> JarEntries(const std::string& dir, std::vector<std::string>* jars) {
  std::set<std::string> names;
  for (const bootstrap::JarListing& jar : bootstrap::ListJars(dir)) {
    if (jars != nullptr) jars->push_back(jar.name);
    for (const unzip::Entry& entry : jar.entries) names.insert(entry.name);
  }
  return names;
}

// Takes an entry's first bytes and stops there.
class HeadSink : public unzip::Sink {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    head.append(reinterpret_cast<const char*>(data), std::min(size, kArchHeadBytes - head.size()));
    return head.size() < kArchHeadBytes;
  }
  std::string head;
};

// The stored files of the jars in `dir` whose data does not begin at a multiple of
// kStoredAlignment, as "jar: entry"; and how many stored files there are.
std::vector<std::string> UnalignedStoredFiles(const std::string& dir, size_t* stored) {
  std::vector<std::string> unaligned;
  for (const bootstrap::JarListing& jar : bootstrap::ListJars(dir)) {
    std::string error;
    std::unique_ptr<unzip::MappedArchive> archive =
        unzip::MapArchive(paths::JoinPath(dir, jar.name), &error);
    if (!archive) continue;
    for (unzip::Entry entry : jar.entries) {
      if (entry.method != 0 || entry.IsDirectory() || entry.IsSymlink() ||
          entry.uncompressed_size == 0) {
        continue;
      }
      ++*stored;
      if (!unzip::LocateData(archive->data(), archive->size(), &entry, &error) ||
          entry.data_offset % kStoredAlignment != 0) {
        unaligned.push_back(jar.name + ": " + entry.name);
      }
    }
  }
  return unaligned;
}

// The architecture of the program `name` packed in one of the jars in `dir`; kUnknown
// when no jar holds it or it cannot be read.
Arch PackedProgramArch(const std::string& dir, const std::string& name) {
  for (const bootstrap::JarListing& jar : bootstrap::ListJars(dir)) {
    for (unzip::Entry entry : jar.entries) {
      if (entry.name != name) continue;
      std::string error;
      std::unique_ptr<unzip::MappedArchive> archive =
          unzip::MapArchive(paths::JoinPath(dir, jar.name), &error);
      if (!archive || !unzip::LocateData(archive->data(), archive->size(), &entry, &error)) {
        return Arch::kUnknown;
      }
      HeadSink sink;
      uint32_t crc = 0;
      unzip::UnpackData(archive->data(), entry, &sink, &crc);  // cut short by the sink
      return ProgramArch(sink.head);
    }
  }
  return Arch::kUnknown;
}

class Checker {
 public:
  Checker(const CheckOptions& options, Report* report) : o_(options), r_(*report) {}
  void Run();

 private:
  bool FindLauncher();
  void CheckCatalogues();
  bool FindParameterFile();
  void CheckSettings();
  void CheckReading(const config::ParamKey& key, const std::string& raw);
  void CheckComponents();
  std::map<std::string, std::string> ReportEntries(const bootstrap::ComponentPlan& plan,
                                                   std::set<std::string>* staged);
  void CheckStep(const char* name, const std::string& dir, std::set<std::string>* staged);
  void CheckAlignment();
  void CheckPlain();
  std::string ChooseComponent(const std::string& name, const std::string& version);
  void CheckRuntimeJars(const std::string& dir, bool development_kit);
  void CheckArch(Arch arch, const std::string& what, const std::string& consequence);
  void CheckClassPath(const std::set<std::string>& staged);
  void CheckPrerequisites();
  void CheckSection(const std::string& section, bool generic);
  void CheckModes();
  void Probe();
  void JavaCommand();

  const CheckOptions& o_;
  Report& r_;
  std::string dir_, launcher_, param_file_, text_, root_, jre_home_;
  std::set<std::string> unpacked_;  // the component directories a bootstrap unpacks
  config::Settings st_;
  bool distribution_ = false;
  Arch arch_ = Arch::kUnknown;  // the launcher's
};

bool Checker::FindLauncher() {
  paths::GetFullPath(&dir_, o_.medium_dir);
  const platform::PathStyle& style = *platform::Os().style;
  const System host = style.drive_letters ? System::kWindows : System::kLinux;
  const std::string exe = style.drive_letters ? "setup.exe" : "setup";
  // What the medium is for, its launcher's header says; the check reads it as that
  // launcher would, so it is made with the tool of the medium's target.
  const MediumTarget target = MediumTargetOf(manifest::PathOfUtf8(dir_));
  if (target.both) {
    r_.Error("Medium",
             "setup.exe is a Windows program and setup a Linux program: one medium has one "
             "launcher; remove what does not belong to it.");
  } else if (target.system != System::kUnknown && target.system != host) {
    r_.Error("Medium", "This medium's launcher is " + target.launcher +
                           ": check it with the zorvex-medium of that target.");
    return false;
  }
  launcher_ = paths::JoinPath(dir_, exe);
  if (!paths::FileExists(launcher_)) {
    r_.Error("Medium", "No launcher (" + exe + ") in " + dir_ + ".");
    return false;
  }
  r_.Info("Medium", "The launcher " + launcher_ + " (" + style.os_name + ").");
  arch_ = target.system == host ? target.arch : Arch::kUnknown;
  if (arch_ == Arch::kUnknown) {
    r_.Warn("Architecture", "The launcher is no program for a processor this tool knows.");
  } else {
    r_.Info("Architecture", std::string("The medium is for ") + style.os_name + " on " +
                                ArchName(arch_) + ": its launcher is a program for " +
                                ArchName(arch_) + ".");
  }
  const std::string unzip = paths::JoinPath(dir_, style.drive_letters ? "unzip.exe" : "unzip");
  if (!paths::FileExists(unzip)) {
    r_.Warn("Medium",
            "No unzip beside the launcher: a distribution-layout bootstrap cannot unpack.");
  } else {
    CheckArch(FileArch(manifest::PathOfUtf8(unzip)), "The unzip beside the launcher",
              "the bootstrap cannot unpack");
  }
  return true;
}

void Checker::CheckCatalogues() {
  const std::string resource = paths::JoinPath(dir_, "resource");
  std::vector<platform::DirEntry> entries;
  if (!platform::Os().files->ListDirectory(resource, &entries)) {
    r_.Error("Catalogues", "No resource directory: the launcher ends at once with status 1.");
    return;
  }
  bool base = false;
  for (const platform::DirEntry& e : entries) {
    if (e.name.rfind("cons", 0) != 0 || e.name.size() < 8 ||
        e.name.substr(e.name.size() - 4) != ".nls")
      continue;
    std::string bytes;
    if (!platform::ReadWholeFile(paths::JoinPath(resource, e.name), &bytes)) continue;
    messages::CatalogueMap map;
    std::vector<std::string> malformed;
    messages::LoadRecords(bytes, &map, &malformed);
    std::string language = e.name == "cons.nls" ? "base" : e.name.substr(5, e.name.size() - 9);
    base |= e.name == "cons.nls";
    std::vector<std::string> missing, unfit;
    for (const messages::MessageKey& k : messages::kMessageKeys) {
      const std::string* text = map.Find(std::string(k.key));
      if (text == nullptr) {
        missing.emplace_back(k.key);
        continue;
      }
      messages::FormatArgs args;
      for (char kind : k.args)
        args.push_back(kind == 's' ? messages::FormatArg("x") : messages::FormatArg(1));
      if (!messages::FormatFits(*text, args)) unfit.emplace_back(k.key);
    }
    r_.Info("Catalogues", e.name + ": " + language + ", " + std::to_string(map.size()) + " texts.");
    for (const std::string& record : malformed) {
      r_.Warn("Catalogues", e.name + ": a record without \"=\" is skipped: \"" + record + "\"");
    }
    for (const std::string& key : missing) {
      (language == "base"
           ? r_.Error("Catalogues", e.name + " lacks " + key + ": the key itself is shown")
           : r_.Warn("Catalogues", e.name + " lacks " + key + ": the base text is shown"));
    }
    for (const std::string& key : unfit) {
      r_.Warn("Catalogues", e.name + ": the text of " + key +
                                " does not fit the launcher's arguments and is not used");
    }
  }
  if (!base) r_.Error("Catalogues", "No base catalogue cons.nls: the install log gets no texts.");
}

bool Checker::FindParameterFile() {
  std::vector<std::string> tried;
  std::string found = config::FindParamFile("", dir_, &tried);
  if (found.empty()) {
    r_.Error("Parameter file",
             "No zorparam.ini beside the launcher or above it: the launcher ends with -2.");
    return false;
  }
  paths::GetFullPath(&param_file_, found);
  r_.Info("Parameter file",
          param_file_ + (tried.empty() ? ": beside the launcher, the first place it looks."
                                       : ": not beside the launcher, so the one above it."));
  if (!platform::ReadWholeFile(param_file_, &text_)) {
    r_.Error("Parameter file", "It cannot be read.");
    return false;
  }
  return true;
}

void Checker::CheckReading(const config::ParamKey& key, const std::string& raw) {
  const std::string name = key.name;
  const std::string topic = "Parameter file";
  switch (key.reading) {
    case config::KeyReading::kStartsWithT:
      if (!raw.empty() && raw[0] != 'T' && Upper(raw).rfind("T", 0) == 0) {
        r_.Warn(topic, name + "=" + raw +
                           " reads as false: only a value beginning with an upper-case T counts.");
      } else if (raw == "1" || Upper(raw) == "YES" || Upper(raw) == "Y" || Upper(raw) == "ON") {
        r_.Warn(topic, name + "=" + raw + " reads as false: only a value beginning with T counts.");
      }
      break;
    case config::KeyReading::kExactlyTrue:
      if (raw != "TRUE" &&
          (Upper(raw) == "TRUE" || raw == "T" || Upper(raw) == "YES" || raw == "1")) {
        r_.Warn(topic, name + "=" + raw + " reads as false: only exactly TRUE counts.");
      }
      break;
    case config::KeyReading::kNumber: {
      char* end = nullptr;
      long long n = std::strtoll(raw.c_str(), &end, 10);
      if (end == raw.c_str()) {
        r_.Error(topic, name + "=" + raw + " is no number: it reads as 0.");
      } else if (*end != '\0') {
        r_.Warn(topic, name + "=" + raw + " reads as " + std::to_string(n) +
                           ": the text after the number is ignored.");
      }
      if (name == "BOOTSTRAP_SIZE" && (n < 0 || n > 2047)) {
        r_.Error(topic, "BOOTSTRAP_SIZE must lie from 0 to 2047: the launcher stages nothing.");
      }
      break;
    }
    case config::KeyReading::kPath: {
      if (raw.find("://") != std::string::npos) break;
      std::string full;
      paths::GetFullPath(&full, raw);
      if (!paths::IsAbsolutePath(raw, *platform::Os().style)) {
        r_.Info(topic,
                name + "=" + raw + " is relative: the launcher's directory makes it " + full + ".");
      }
      if (!paths::FileExists(raw)) {
        bool stage = distribution_ && (name == "ZEK_LOCATION" || name == "ZEK_CORE_LOCATION" ||
                                       name == "ZPATCH_LOCATION" || name == "JRE_LOCATION");
        (stage
             ? r_.Info(topic,
                       name + "=" + raw +
                           " does not exist: the bootstrap takes the component's highest version.")
             : r_.Warn(topic, name + "=" + raw + " does not exist."));
      }
      break;
    }
    default:
      break;
  }
}

void Checker::CheckSettings() {
  platform::System& system = *platform::Os().system;
  std::vector<std::string> dropped;
  Options().jre_location.clear();
  config::ReadSettings(param_file_, dir_, paths::JoinPath("<TEMP>", "ZorInstall<timestamp>"), &st_,
                       &dropped);
  distribution_ = config::StartsWithT(st_.distribution);
  for (const std::string& name : dropped) {
    r_.Warn("Parameter file",
            "BOOTSTRAP_COMPS names more than 16 components: " + name + " is not bootstrapped.");
  }
  if (st_.jre_version.size() > 2 && !paths::IsPlainName(st_.jre_version)) {
    r_.Error("Parameter file", "JRE_VERSION \"" + st_.jre_version +
                                   "\" is no plain directory name: the launcher refuses to stage.");
  }
  std::set<std::string> known;
  for (const config::ParamKey& key : config::kParamKeys) {
    known.insert(Upper(key.name));
    std::string raw = system.ProfileString(config::kMainSection, key.name, kAbsent, param_file_);
    bool present = raw != kAbsent && !raw.empty();
    // The value as the launcher holds it after reading: with its default, cut to its first
    // character, or made absolute.
    std::string value;
    if (key.setting != nullptr) {
      value = st_.*key.setting;
    } else if (key.later_default != nullptr) {
      config::GetParamValue(key.name, &value, key.later_default, param_file_,
                            config::ReadMode::kWhole);
    } else {
      value = std::string(key.name) == "JRE_LOCATION" ? Options().jre_location
                                                      : Options().prereq_config_location;
    }
    if (std::string(key.name) == "PLATFORM_PREREQS") st_.platform_prereqs = value;
    if (std::string(key.name) == "BOOTSTRAP_COMPS") value = raw == kAbsent ? "" : raw;
    r_.Setting(key.name, value, present ? "file" : "default");
    if (present) CheckReading(key, raw);
  }
  for (const std::string& key : platform::ListProfileKeys(text_, config::kMainSection)) {
    if (known.count(Upper(key)) > 0) continue;
    std::string nearest;
    size_t best = 4;
    for (const config::ParamKey& k : config::kParamKeys) {
      size_t d = Distance(Upper(key), k.name);
      if (d < best) best = d, nearest = k.name;
    }
    r_.Warn(
        "Parameter file",
        "Unknown key " + key +
            (nearest.empty() ? " is not read." : " is not read: did you mean " + nearest + "?"));
  }
}

// The version directory a bootstrap would take for a component, reported.
std::string Checker::ChooseComponent(const std::string& name, const std::string& version) {
  std::string chosen;
  std::string dir = bootstrap::ComponentDir(root_, name, version, &chosen);
  std::vector<std::string> jars;
  JarEntries(dir, &jars);
  if (jars.empty()) {
    r_.Error("Components", name + ": no jar in " + dir +
                               (chosen == bootstrap::kNoVersion ? " (no version directory)" : "") +
                               ": the unzip fails.");
  } else {
    r_.Info("Components", name + " " + chosen +
                              (version.empty() ? " (the highest)" : " (as named)") + ": " +
                              std::to_string(jars.size()) + " jar(s) in " + dir + ".");
  }
  return dir;
}

void Checker::CheckRuntimeJars(const std::string& dir, bool development_kit) {
  std::set<std::string> names = JarEntries(dir, nullptr);
  const std::string java = platform::Os().style->javaw_name;
  std::string home;
  for (const std::string& n : names) {
    std::string prefix = development_kit ? "jdk/" : "jre/";
    if (n.rfind(prefix, 0) != 0) continue;
    size_t slash = n.find('/', 4);
    if (development_kit) {
      if (n == "jdk/bin/" + java) home = "jdk";
    } else if (slash != std::string::npos && n.substr(slash) == "/bin/" + java) {
      home = n.substr(0, slash);
      break;
    }
  }
  if (home.empty()) {
    r_.Error("Components", "The runtime's jars hold no " +
                               std::string(development_kit ? "jdk" : "jre/<name>") + "/bin/" +
                               java + ": Java cannot start.");
  } else {
    jre_home_ = home;
    r_.Info("Components", "The runtime in " + dir + " is staged as " + home + " and started as " +
                              home + "/bin/" + java + ".");
    CheckArch(PackedProgramArch(dir, home + "/bin/" + java), "The runtime's " + java,
              "Java cannot start");
  }
}

// An error when `arch`, the processor of a program of the medium, is not the launcher's.
void Checker::CheckArch(Arch arch, const std::string& what, const std::string& consequence) {
  if (arch == Arch::kUnknown || arch_ == Arch::kUnknown || arch == arch_) return;
  r_.Error("Architecture", what + " is a program for " + ArchName(arch) +
                               ", and the launcher one for " + ArchName(arch_) + ": " +
                               consequence + " where the launcher runs.");
}

void Checker::CheckClassPath(const std::set<std::string>& staged) {
  std::vector<std::string> present, absent;
  auto look = [&](const std::string& dir, const std::vector<std::string>& jars) {
    for (const std::string& jar : jars)
      (staged.count(dir + "/" + jar) ? present : absent).push_back(dir + "/" + jar);
  };
  look("zek/jlib", kCoreJars);
  look("ZPatch/jlib", kPatchJars);
  look("zek/jlib", kInstallerJars);
  look("zek/jlib", kExtraJars);
  std::string list;
  for (const std::string& p : present) list += (list.empty() ? "" : ", ") + p;
  if (present.empty()) {
    r_.Error("Class path",
             "None of the class path's jars is in any component: Java finds no installer.");
  } else {
    r_.Info("Class path", std::to_string(present.size()) + " of the class path's " +
                              std::to_string(present.size() + absent.size()) +
                              " jars are staged: " + list + ".");
  }
}

// Reports what each BOOTSTRAP_COMPS entry does; gives the directories the launcher's own
// named components are taken from, and adds what the others unpack to *staged.
std::map<std::string, std::string> Checker::ReportEntries(const bootstrap::ComponentPlan& plan,
                                                          std::set<std::string>* staged) {
  std::map<std::string, std::string> named;
  for (const bootstrap::PlannedComponent& c : plan.entries) {
    switch (c.role) {
      case bootstrap::ComponentRole::kSkipped:
        if (c.name.empty()) {
          r_.Warn("Components",
                  "BOOTSTRAP_COMPS entry \"" + c.entry + "\" names no component: skipped.");
        } else {
          r_.Error("Components",
                   "BOOTSTRAP_COMPS entry \"" + c.entry +
                       "\" is no plain component name and version: the launcher skips it.");
        }
        break;
      case bootstrap::ComponentRole::kRuntime:
        break;
      case bootstrap::ComponentRole::kInstaller:
      case bootstrap::ComponentRole::kCore:
      case bootstrap::ComponentRole::kPatch:
        named[c.name] = bootstrap::ComponentDir(root_, c.name, c.version);
        break;
      case bootstrap::ComponentRole::kOther: {
        const std::string dir = ChooseComponent(c.name, c.version);
        unpacked_.insert(dir);
        for (const std::string& n : JarEntries(dir, nullptr)) staged->insert(n);
        break;
      }
    }
  }
  return named;
}

// Reports one of the launcher's own steps, from `dir` (the parameter file's location, or
// the named version's), else from the component's highest version.
void Checker::CheckStep(const char* name, const std::string& dir, std::set<std::string>* staged) {
  std::string from = dir;
  if (!paths::FileExists(from)) {
    from = ChooseComponent(name, "");
  } else {
    std::vector<std::string> jars;
    JarEntries(from, &jars);
    if (jars.empty()) {
      r_.Error("Components", std::string(name) + ": no jar in " + from + ": the unzip fails.");
    } else {
      r_.Info("Components",
              std::string(name) + ": " + std::to_string(jars.size()) + " jar(s) in " + from + ".");
    }
  }
  unpacked_.insert(from);
  for (const std::string& n : JarEntries(from, nullptr)) staged->insert(n);
}

// A stored component is unpacked by copying its files' bytes; where they begin at a
// multiple of kStoredAlignment, a file system that shares blocks (XFS, Btrfs, ReFS) gives
// the staged files the jar's blocks instead of copies. A jar stored without that
// alignment (made by another tool, or by an older zorvex-medium) still works.
void Checker::CheckAlignment() {
  for (const std::string& dir : unpacked_) {
    size_t stored = 0;
    const std::vector<std::string> unaligned = UnalignedStoredFiles(dir, &stored);
    if (unaligned.empty()) continue;
    r_.Warn("Components", std::to_string(unaligned.size()) + " of the " + std::to_string(stored) +
                              " stored files in " + dir + " do not begin at a multiple of " +
                              std::to_string(kStoredAlignment) + " bytes (" + unaligned[0] +
                              (unaligned.size() > 1 ? ", ..." : "") +
                              "): staging copies them where the file system could share "
                              "them; zorvex-medium build aligns them.");
  }
}

// Reports the plan a bootstrap of the medium carries out, as the staging driver makes it.
void Checker::CheckComponents() {
  root_ = bootstrap::ComponentsRoot();
  if (!paths::FileExists(root_)) {
    r_.Error(
        "Components",
        "DISTRIBUTION is on, but neither ../stage/Components nor ../../stage/Components exists.");
    return;
  }
  std::set<std::string> staged;
  const bootstrap::ComponentPlan plan = bootstrap::PlanComponents(st_.bootstrap_comps, true);
  // The launcher's own components only mark their steps (a named version replaces the
  // location of the parameter file); any other is unpacked as listed.
  std::map<std::string, std::string> named = ReportEntries(plan, &staged);
  const bool all = plan.entries.empty();
  if (plan.runtime) {
    std::string jre = Options().jre_location;
    bool development_kit = false;
    if (!paths::FileExists(jre)) {
      jre = bootstrap::ComponentDir(root_, bootstrap::kJre, "");
      if (!paths::FileExists(jre)) {
        jre = ChooseComponent(bootstrap::kJdk, "");
        development_kit = true;
      }
    }
    unpacked_.insert(jre);
    CheckRuntimeJars(jre, development_kit);
  }
  if (plan.installer)
    CheckStep(bootstrap::kZek, all ? st_.zek_location : named[bootstrap::kZek], &staged);
  if (plan.core) {
    CheckStep(bootstrap::kZekCore, all ? st_.zek_core_location : named[bootstrap::kZekCore],
              &staged);
  }
  if (plan.patch) {
    CheckStep(bootstrap::kZpatch, all ? st_.zpatch_location : named[bootstrap::kZpatch], &staged);
  }
  CheckClassPath(staged);
  CheckAlignment();
}

void Checker::CheckPlain() {
  const std::string java = paths::JoinPath(paths::JoinPath(Options().jre_location, "bin"),
                                           platform::Os().style->javaw_name);
  if (!paths::FileExists(java)) {
    r_.Error("Components", "The runtime's " + java + " does not exist: Java cannot start.");
  } else {
    CheckArch(FileArch(manifest::PathOfUtf8(java)), "The runtime's " + java, "Java cannot start");
  }
  std::set<std::string> staged;
  auto add = [&](const std::string& dir, const std::string& as,
                 const std::vector<std::string>& jars) {
    for (const std::string& jar : jars) {
      if (paths::FileExists(paths::JoinPath(paths::JoinPath(dir, "jlib"), jar)))
        staged.insert(as + "/" + jar);
    }
  };
  add(st_.zek_core_location, "zek/jlib", kCoreJars);
  add(st_.zpatch_location, "ZPatch/jlib", kPatchJars);
  add(st_.zek_location, "zek/jlib", kInstallerJars);
  add(st_.zek_location, "zek/jlib", kExtraJars);
  CheckClassPath(staged);
}

void Checker::CheckSection(const std::string& section, bool generic) {
  config::IniStream stream("");
  stream.Open(param_file_);
  std::string key, value;
  if (!config::ReadIniEntry(&section, &key, &value, &stream)) return;
  int checks = 0;
  while (config::ReadIniEntry(nullptr, &key, &value, &stream)) {
    const std::string where = "[" + section + "] " + key;
    bool generic_only = false;
    if (!prereq::IsCheckKey(key, &generic_only)) {
      if (key.size() < 17 || key.substr(key.size() - 16) != "_FAILURE_MESSAGE") {
        r_.Warn("Prerequisites", where + " is no check: passed over without a word.");
      }
      continue;
    }
    if (value.empty()) {
      r_.Warn("Prerequisites", where + " has no value: passed over.");
      continue;
    }
    ++checks;
    if (!generic && generic_only) {
      r_.Warn("Prerequisites",
              where + " is checked only in \"Generic Prereqs\": passed over here.");
    }
    if (key != "SERVICE_PACK") {
      char* end = nullptr;
      double n = std::strtod(value.c_str(), &end);
      if (!(n > 0)) {
        r_.Warn("Prerequisites", where + "=" + value + " is not a positive number: " +
                                     (key == "SWAP_SPACE" ? "the check always fails."
                                                          : "the check gives no verdict."));
      } else if (*end != '\0') {
        r_.Warn("Prerequisites", where + "=" + value + ": the text after the number is ignored.");
      }
    }
  }
  r_.Info("Prerequisites", "[" + section + "]: " + std::to_string(checks) + " check(s).");
}

void Checker::CheckPrerequisites() {
  const std::string os = platform::Os().style->os_name;
  CheckSection(prereq::kGenericSection, true);
  std::string list =
      platform::Os().system->ProfileString(prereq::kCertifiedSection, os, "", param_file_);
  const bool platform_checks = config::StartsWithT(st_.platform_prereqs);
  if (list.empty()) {
    if (platform_checks)
      r_.Warn("Prerequisites", "PLATFORM_PREREQS is on, but [Certified Versions] has no " + os +
                                   " list: no platform section is checked.");
    return;
  }
  if (!platform_checks)
    r_.Info("Prerequisites",
            "[Certified Versions] lists " + list + ", but PLATFORM_PREREQS is off: not checked.");
  if (list.find(", ") != std::string::npos)
    r_.Warn("Prerequisites",
            os + "=" + list + ": a version after \", \" begins with a blank and never matches.");
  std::string warn;
  const std::string certified = prereq::kCertifiedSection;
  config::GetIniValue(&certified, "CERTIFIED_VERSION_WARN", "", &warn, param_file_);
  if (!warn.empty() && warn != "TRUE")
    r_.Warn("Prerequisites", "CERTIFIED_VERSION_WARN=" + warn +
                                 " reads as off: only exactly TRUE warns instead of stopping.");
  for (const std::string& version : prereq::SplitList(list)) {
    CheckSection(os + "-" + version + "-required", false);
    CheckSection(os + "-" + version + "-optional", false);
  }
}

void Checker::Probe() {
  prereq::PassContext c;
  c.param_file = param_file_;
  c.noconsole = true;  // never ask: the check reads no answer
  auto& console = static_cast<CapturingConsole&>(*platform::Os().console);
  auto run = [&](const char* name) {
    console.printed.clear();
    int result = prereq::RunPrerequisitePass(&c);
    std::string verdict = result == prereq::kPassOk                ? "passed"
                          : result == prereq::kNoCertifiedVersions ? "no certified versions"
                                                                   : "failed";
    r_.Info("This machine", std::string(name) + " pass: " + verdict + ".");
    size_t start = 0;
    while (start < console.printed.size()) {
      size_t end = console.printed.find('\n', start);
      if (end == std::string::npos) end = console.printed.size();
      std::string line = console.printed.substr(start, end - start);
      if (!line.empty()) r_.Info("This machine", "  " + line);
      start = end + 1;
    }
    if (result != prereq::kPassOk && result != prereq::kNoCertifiedVersions)
      r_.Warn("This machine", std::string(name) + " prerequisites fail here" +
                                  (c.failure_text.empty() ? "." : ":" + c.failure_text));
    c.failure_text.clear();
    return result;
  };
  if (run("Generic") == prereq::kStopRun) return;
  if (!config::StartsWithT(st_.platform_prereqs)) return;
  c.generic_pass = false;
  if (run("Required") == prereq::kStopRun) return;
  c.required_pass = false;
  run("Optional");
}

void Checker::JavaCommand() {
  const char sep = platform::Os().style->separator;
  const std::string scratch = std::string("<TEMP>") + sep + "ZorInstall<timestamp>";
  config::Settings st = st_;
  if (config::StartsWithT(st.bootstrap)) {
    // As a bootstrap leaves them: every location in the scratch directory.
    st.zek_location = st.zek_core_location = scratch + sep + "zek";
    st.zpatch_location = scratch + sep + "ZPatch";
    if (distribution_ && !jre_home_.empty()) {
      std::string home = jre_home_;
      std::replace(home.begin(), home.end(), '/', sep);
      Options().jre_location = scratch + sep + home;
    } else if (!distribution_) {
      Options().jre_location = scratch + sep + "jre";
    }
  }
  config::DeriveJavaLocations(param_file_, &st);
  Options().timestamp = "<timestamp>";
  Options().main_class = st.install_class;
  JavaCommandInputs in;
  in.settings = &st;
  in.executable_name = platform::Os().style->javaw_name;
  in.startup_location = dir_;
  in.scratch_dir = scratch;
  in.exec_path = launcher_;
  in.arguments = {launcher_, ""};
  // The placeholder is no path below the medium, where making locations absolute put it.
  const std::string misplaced = dir_ + sep + "<TEMP>";
  for (std::string element : BuildJavaArguments(in)) {
    for (size_t at = element.find(misplaced); at != std::string::npos;
         at = element.find(misplaced, at)) {
      element.replace(at, misplaced.size(), "<TEMP>");
    }
    r_.JavaElement(element);
  }
}

// Modes that let group or others write what the medium holds, on its disk or in its jars:
// the launcher makes everything it stages its user's alone whatever they say, but a medium
// that others may change, or that was packed from such a tree, is a sign that its build
// went wrong. Windows media have no such modes.
void Checker::CheckModes() {
  namespace fs = std::filesystem;
  if (platform::Os().style->drive_letters) return;
  const fs::path disk = manifest::PathOfUtf8(dir_);
  std::error_code ec;
  for (const fs::path& top : {disk, disk.parent_path() / "stage"}) {
    if (top != disk && !fs::is_directory(top, ec)) continue;
    for (fs::recursive_directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec)) {
      fs::file_status st = it->symlink_status(ec);
      if (fs::is_symlink(st)) continue;
      const std::string path = manifest::Utf8Of(it->path());
      char mode[8];
      if ((st.permissions() & (fs::perms::group_write | fs::perms::others_write)) !=
          fs::perms::none) {
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.permissions()) & 07777);
        r_.Warn("Modes", path + " may be written by group or others (mode " + mode + ").");
      }
      if (!fs::is_regular_file(st) || it->path().extension() != ".jar") continue;
      std::string error;
      std::unique_ptr<unzip::MappedArchive> jar = unzip::MapArchive(path, &error);
      unzip::Archive read;
      int code = 0;
      if (!jar || !unzip::ReadCentralDirectory(jar->data(), jar->size(), &read, &error, &code))
        continue;
      size_t open = 0;
      std::string first;
      for (const unzip::Entry& e : read.entries) {
        if (!e.HasUnixMode() || e.IsSymlink() || (e.UnixMode() & 022) == 0) continue;
        if (open++ == 0) {
          std::snprintf(mode, sizeof mode, "%04o", e.UnixMode() & 07777);
          first = e.name + " (" + mode + ")";
        }
      }
      if (open > 0) {
        r_.Warn("Modes", path + " packs " + std::to_string(open) +
                             " entries that group or others may write, such as " + first +
                             "; the launcher stages them for its user alone.");
      }
    }
  }
}

void Checker::Run() {
  if (!FindLauncher()) return;
  CheckSignatures(dir_, o_.ca_file, o_.keyring, false, &r_);
  CheckManifest(dir_, launcher_, &r_);
  CheckModes();
  CheckBillOfMaterials(manifest::PathOfUtf8(dir_), platform::Os().style->drive_letters, &r_);
  platform::Os().files->SetWorkingDirectory(dir_);
  messages::LoadMessageCatalogue(launcher_);
  CheckCatalogues();
  if (!FindParameterFile()) return;
  CheckSettings();
  if (distribution_) {
    CheckComponents();
  } else {
    CheckPlain();
  }
  CheckPrerequisites();
  if (o_.probe) Probe();
  JavaCommand();
}

}  // namespace

int Check(const CheckOptions& options) {
  // The check reads the medium as a run would, in a run of its own: the launcher's
  // reading of the catalogue and the parameter file, with its messages captured.
  const platform::Platform native = platform::NativePlatform();
  RunContext context(native);
  RunScope scope(&context);
  std::string dir;
  paths::GetFullPath(&dir, options.medium_dir);
  const char* exe = native.style->drive_letters ? "setup.exe" : "setup";
  MediumSystem system(native.system, dir + native.style->separator + exe);
  CapturingConsole console;
  context.platform.console = &console;
  context.platform.system = &system;
  Report report;
  if (options.signatures_only) {
    CheckSignatures(dir, options.ca_file, options.keyring, true, &report);
  } else {
    Checker(options, &report).Run();
  }
  std::string out = options.json ? report.Json() : report.Text();
  std::fwrite(out.data(), 1, out.size(), stdout);
  return report.ExitStatus();
}

}  // namespace zorvex::medium
