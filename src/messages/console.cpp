#include "messages/console.h"

#include "messages/catalogue.h"
#include "options/option_state.h"
#include "platform/platform.h"

namespace zorvex::messages {

void PrintText(const std::string& utf8) { platform::Os().console->Print(utf8); }

void ShowError(const std::string& text) {
  if (Options().silent) {
    PrintText(text);
    return;
  }
  platform::Os().console->ShowMessageBox(MessageText("S_ZEK"), text);
}

void PauseIfSilentAndWatched() {
  if (!Options().silent || !platform::Os().console->PersonCanAnswer()) return;
  PrintText(MessageText("S_ENTER_ENTER"));
  platform::Os().console->ReadChar();
}

bool ConsoleRunWatched(bool silent, bool noconsole) {
  return !silent && !noconsole && platform::Os().console->PersonCanAnswer();
}

void CreateLauncherConsole() { platform::Os().console->Create(kConsoleTitle); }

void PrintMessage(const std::string& key, const FormatArgs& args) {
  PrintText(FormatMessageText(key, args));
}

}  // namespace zorvex::messages
