#include "prereq/prereq_engine.h"

#include <optional>

#include "config/ini_reader.h"
#include "inventory/logs.h"
#include "messages/console.h"
#include "platform/platform.h"
#include "prereq/checks.h"

namespace zorvex::prereq {

namespace {

constexpr char kNotCertified[] = "\nThe version of this operating system is not certified.\n";
constexpr char kNotCertifiedCheck[] =
    "\nThe version of this operating system is not certified.Check '%s' for a list of "
    "certified versions.\n";
constexpr char kContinuePrompt[] = "\nDo you want to continue? (y/n) [n]: ";
constexpr char kUserContinues[] =
    "The user has verified that the product can be installed on this platform. Continuing "
    "with the install...\n";
constexpr char kUserQuits[] =
    "The user has verified that the product cannot be installed on this platform. Quitting "
    "the install...\n";

std::string CertifiedValue(const std::string& key, const std::string& param_file) {
  const std::string section = kCertifiedSection;
  std::string value;
  config::GetIniValue(&section, key, "", &value, param_file);
  return value;
}

// Names the install log, lets an interactive user read it, and closes the log.
int StopTheRun(const PassContext& c) {
  inventory::ReportMessage("S_EXIT_MSG", {inventory::InstallLogPath()});
  if (messages::ConsoleRunWatched(c.silent, c.noconsole)) {
    inventory::ReportMessage("S_EXIT_CONTINUE");
    platform::Os().console->ReadChar();
  }
  inventory::CloseLog();
  return kStopRun;
}

// Warns about an uncertified version and asks whether to go on. kPassOk, or kStopRun.
int WarnUncertified(const PassContext& c) {
  std::string location = CertifiedValue("CERTIFIED_VERSION_LOCATION", c.param_file);
  messages::PrintText("\n\n");
  std::string warning = kNotCertified;
  if (!location.empty()) {
    std::string head = kNotCertifiedCheck;
    warning = head.replace(head.find("%s"), 2, location);
  }
  messages::PrintText(warning);
  inventory::WriteLog(warning);
  if (c.silent || c.noconsole) return StopTheRun(c);
  while (true) {
    messages::PrintText(kContinuePrompt);
    inventory::WriteLog(kContinuePrompt);
    char answer = ReadYesNoAnswer();
    if (answer == 'y') {
      inventory::PrintAndLog(kUserContinues);
      return kPassOk;
    }
    if (answer == 'n') {
      inventory::PrintAndLog(kUserQuits);
      return StopTheRun(c);
    }
  }
}

// The running version against "Certified Versions". Nullopt when the version is certified
// (the platform sections are then named); otherwise how the pass ends.
std::optional<int> CheckCertifiedVersion(PassContext* c, const platform::OsVersion& version) {
  const std::string os = platform::Os().style->os_name;
  std::string list = platform::Os().system->ProfileString(kCertifiedSection, os, "", c->param_file);
  std::string actual = std::to_string(static_cast<int32_t>(version.major)) + "." +
                       std::to_string(static_cast<int32_t>(version.minor));
  if (list.empty()) {
    inventory::ReportMessage("S_NO_PREQ_RUN");
    return kNoCertifiedVersions;
  }
  inventory::ReportMessage("S_CHECKING_REQ_PREREQ");
  std::string failure = CertifiedValue("CERTIFIED_VERSION_FAILURE_MESSAGE", c->param_file);
  inventory::ReportMessage("S_CHECKING_FOR_OS_VERSION");
  inventory::PrintAndLog(FormatChoiceList(list));
  inventory::ReportMessage("S_ACTUAL", {actual});
  if (IsInList(list, actual)) {
    inventory::ReportMessage("S_SPASSED_ON_NEWLINE");
    c->required_section = os + "-" + actual + "-required";
    c->optional_section = os + "-" + actual + "-optional";
    return std::nullopt;
  }
  inventory::ReportMessage("S_SFAILED_ON_NEWLINE");
  // Shown here and now: it is not gathered into the pass's failure text.
  if (!failure.empty()) inventory::PrintAndLog("\n\n" + failure);
  if (c->ignoresysprereqs) return kPassFailed;
  if (CertifiedValue("CERTIFIED_VERSION_WARN", c->param_file) != "TRUE") return StopTheRun(*c);
  return WarnUncertified(*c);
}

// The failure message of a check. The platform sections name the messages of platform
// checks; in the generic pass those names are still empty, so a generic check's message is
// looked for in "Generic Prereqs" first.
std::string FailureMessage(const PassContext& c, const std::string& key) {
  std::string message;
  if (c.generic_pass) {
    config::GetIniValue(&c.generic_section, key, "", &message, c.param_file);
    if (!message.empty()) return message;
  }
  config::GetIniValueWithFallback(c.required_section, c.optional_section, key, "", &message,
                                  c.param_file);
  return message;
}

struct CheckKind {
  const char* key;
  const char* failure_message_key;
  bool generic_pass_only;
  bool needs_dialogs;  // not in silent runs
  Verdict (*run)(const std::string& value, const platform::OsVersion& version);
};

const CheckKind kChecks[] = {
    {"SERVICE_PACK", "SERVICE_PACK_FAILURE_MESSAGE", false, false, CheckServicePack},
    {"MIN_DISPLAY_COLORS", "MIN_DISPLAY_COLORS_FAILURE_MESSAGE", true, true,
     [](const std::string& v, const platform::OsVersion&) { return CheckDisplayColors(v); }},
    {"CPU", "CPU_FAILURE_MESSAGE", false, false,
     [](const std::string& v, const platform::OsVersion&) { return CheckCpuSpeed(v); }},
    {"SWAP_SPACE", "TEMP_SPACE_FAILURE_MESSAGE", true, false,
     [](const std::string& v, const platform::OsVersion&) { return CheckSwapSpace(v); }},
};

// The check an entry declares in this pass; null for an entry that declares none here.
const CheckKind* CheckOf(const PassContext& c, const std::string& key, const std::string& value) {
  if (value.empty()) return nullptr;
  for (const CheckKind& check : kChecks) {
    if (key != check.key) continue;
    if (check.generic_pass_only && !c.generic_pass) return nullptr;
    if (check.needs_dialogs && c.silent) return nullptr;
    return &check;
  }
  return nullptr;
}

}  // namespace

bool IsCheckKey(const std::string& key, bool* generic_pass_only) {
  for (const CheckKind& check : kChecks) {
    if (key != check.key) continue;
    *generic_pass_only = check.generic_pass_only;
    return true;
  }
  return false;
}

namespace {

// Walks the entries of the pass's section. kPassOk or kPassFailed.
int CheckSection(PassContext* c, const std::string& section, const platform::OsVersion& version) {
  config::IniStream stream("");
  std::string key, value;
  if (!stream.Open(c->param_file)) return kPassOk;
  if (!config::ReadIniEntry(&section, &key, &value, &stream)) return kPassOk;
  int result = kPassOk;
  while (config::ReadIniEntry(nullptr, &key, &value, &stream)) {
    const CheckKind* check = CheckOf(*c, key, value);
    if (check == nullptr) continue;
    std::string message = FailureMessage(*c, check->failure_message_key);
    if (check->run(value, version) != Verdict::kFailed) continue;
    result = kPassFailed;
    if (!message.empty()) c->failure_text += "\n\n" + message;
  }
  return result;
}

}  // namespace

int RunPrerequisitePass(PassContext* c) {
  platform::OsVersion version = platform::Os().system->GetOsVersionInfo();
  if (!c->generic_pass && c->required_pass) {
    if (std::optional<int> end = CheckCertifiedVersion(c, version)) return *end;
  }
  c->generic_section = kGenericSection;
  const std::string& section = c->generic_pass    ? c->generic_section
                               : c->required_pass ? c->required_section
                                                  : c->optional_section;
  return CheckSection(c, section, version);
}

char ReadYesNoAnswer() {
  std::string line;
  if (!platform::ReadLine(*platform::Os().console, &line)) return 'n';
  if (line.empty() || line[0] == 'n' || line[0] == 'N') return 'n';
  if (line[0] == 'y' || line[0] == 'Y') return 'y';
  return 0;
}

}  // namespace zorvex::prereq
