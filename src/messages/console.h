// Everything the launcher shows the user: console text, error notices and the
// press-Enter pause of silent runs.
#pragma once

#include <string>

#include "messages/format.h"

namespace zorvex::messages {

inline constexpr char kConsoleTitle[] = "Zorvex Meridal Installer";

// Writes a UTF-8 text to the console; dropped when there is no console output.
void PrintText(const std::string& utf8);

// Shows a finished error text: printed in silent runs, otherwise in a message box titled
// with the text of S_ZEK. Returns when the user has acknowledged it.
void ShowError(const std::string& text);

// In silent runs where a person can answer on standard input: prints S_ENTER_ENTER and
// waits for one character of it. Returns at once in runs with dialogs, and where nobody
// can answer (a pipe, a file, a service's console).
void PauseIfSilentAndWatched();

// A run with a console window (neither silent nor without a console) that a person can
// answer: the prerequisite checks ask such a person for a key before they end the run.
bool ConsoleRunWatched(bool silent, bool noconsole);

// Creates the launcher's console and makes it the console output.
void CreateLauncherConsole();

// Prints the message-catalogue text of a key formatted with the arguments.
void PrintMessage(const std::string& key, const FormatArgs& args = {});

}  // namespace zorvex::messages
