#include "bootstrap/jre_location.h"

#include "inventory/logs.h"
#include "launcher/exit_status.h"
#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/platform.h"

namespace zorvex::bootstrap {

namespace {

bool HasJavaProgram(const std::string& dir) {
  std::string java = dir;
  paths::AppendPath(&java, "bin");
  paths::AppendPath(&java, platform::Os().style->java_name);
  return paths::FileExists(java);
}

std::string JoinLib(const std::string& dir, const char* jar) {
  std::string path = dir;
  paths::AppendPath(&path, "lib");
  paths::AppendPath(&path, jar);
  return path;
}

void Report(const std::string& key) {
  inventory::WriteLog(messages::LogMessageText(key));
  messages::PrintText("\n\n");
  messages::PrintText(messages::MessageText(key));
}

}  // namespace

std::optional<std::string> PromptForJreLocation(const config::Settings& st) {
  const bool jre_only = config::IsExactlyTrue(st.usejreonly);
  const bool jdk_only = config::IsExactlyTrue(st.usejdkonly);
  const char* question = jdk_only   ? "S_SPECIFY_JDK_ONLY_LOCATION"
                         : jre_only ? "S_SPECIFY_JRE_ONLY_LOCATION"
                                    : "S_SPECIFY_JRE_LOCATION";
  const char* again = jre_only   ? "S_SPECIFY_VALID_JRE_ONLY_LOCATION"
                      : jdk_only ? "S_SPECIFY_VALID_JDK_ONLY_LOCATION"
                                 : "S_SPECIFY_VALID_JRE_LOCATION";
  platform::Console& console = *platform::Os().console;
  messages::PrintText("\n");
  messages::PrintText(messages::MessageText(question));
  while (true) {
    console.DiscardPendingInput();
    std::string line;
    // Without more input nobody can answer: give up rather than ask for ever.
    if (!platform::ReadLine(console, &line)) return std::nullopt;
    if (!line.empty() && HasJavaProgram(line)) return line;
    messages::PrintText("\n");
    messages::PrintText(messages::MessageText(again));
  }
}

bool IsJreHome(const std::string& dir) {
  return paths::FileExists(JoinLib(dir, "rt.jar")) || paths::FileExists(JoinLib(dir, "core.jar"));
}

int ValidateJavaHome(const std::string& jre_location, bool extjre, const config::Settings& st) {
  if (!Options().jreloc_given && !extjre) return 0;
  const bool jre_only = config::IsExactlyTrue(st.usejreonly);
  const bool jdk_only = config::IsExactlyTrue(st.usejdkonly);
  if (!jre_only && !jdk_only) return 0;
  const bool jre = IsJreHome(jre_location);
  if (jdk_only && jre) {
    Report("S_INVALID_JDK_HOME");
    return kExitRunEnded;
  }
  if (jre_only && !jre) {
    Report("S_INVALID_JRE_HOME");
    return kExitRunEnded;
  }
  return 0;
}

}  // namespace zorvex::bootstrap
