#include "launcher/process.h"

#include <memory>

#include "inventory/logs.h"
#include "messages/catalogue.h"
#include "messages/console.h"
#include "options/option_state.h"
#include "platform/command_line.h"
#include "platform/platform.h"

namespace zorvex {

namespace {

constexpr char kHyphenLine[] = "-------------------------------------------------------\n";

void DumpArguments(const std::vector<std::string>& list) {
  messages::PrintText(kHyphenLine);
  messages::PrintMessage("S_TOTAL_ARGS", {static_cast<int>(list.size())});
  messages::PrintText(messages::MessageText("S_CMDLINE_ARG_ELTS"));
  for (size_t i = 0; i < list.size(); ++i) {
    messages::PrintText("Arg:" + std::to_string(i) + ":" + list[i] + ":\n");
  }
  messages::PrintText(kHyphenLine);
}

// Debug runs append the argument list to the install log last opened.
void LogArguments(const std::vector<std::string>& list) {
  std::string text = "\n";
  text += messages::FormatLogMessageText("S_TOTAL_ARGS", {static_cast<int>(list.size())});
  text += messages::LogMessageText("S_CMDLINE_ARG_ELTS");
  for (const std::string& element : list) text += element + "\n";
  inventory::AppendToInstallLog(text + "\n");
}

// Waits when asked, then asks for the exit code; any failure gives its error code.
uint32_t Finish(platform::ChildProcess* child, bool wait) {
  if (wait) {
    if (uint32_t error = child->WaitForExit(); error != 0) return error;
  }
  uint32_t code = 0;
  uint32_t error = 0;
  return child->ExitCode(&code, &error) ? code : error;
}

}  // namespace

std::string JoinArguments(const std::vector<std::string>& list, bool dump) {
  if (dump && Options().debug) DumpArguments(list);
  std::string joined;
  for (const std::string& element : list) {
    joined += element;
    joined.push_back(' ');
  }
  return joined;
}

uint32_t CreateZEKProcess(const std::vector<std::string>& list, bool wait) {
  std::string command = JoinArguments(list, true);
  if (Options().debug) {
    messages::PrintMessage("S_JVMLOADMSG", {list.empty() ? std::string() : list[0]});
    messages::PrintText("\n");
  }
  uint32_t error = 0;
  std::unique_ptr<platform::ChildProcess> child =
      platform::Os().processes->Start(command, false, &error);
  if (!child) {
    // The status as it always was, then which program and why, in the system's words.
    const std::vector<std::string> words = platform::SplitWindowsCommandLine(command);
    messages::ShowError(messages::FormatMessageText("S_ERGOSLST", {"CreateZEKProcess()", error}) +
                        messages::FormatMessageText(
                            "S_ERJAVA_START", {words.empty() ? std::string() : words[0],
                                               platform::Os().processes->StartFailureText(error)}));
    messages::PauseIfSilentAndWatched();
    return error;
  }
  if (Options().debug) LogArguments(list);
  return Finish(child.get(), wait);
}

}  // namespace zorvex
