// The command-line options: valued options found case-sensitively in the joined argument
// text, flags and assignments found anywhere in an upper-cased copy of each argument, the
// "-J" tail for Java, and the choice of the Java main class by mode.
#pragma once

#include <string>
#include <vector>

#include "config/settings.h"

namespace zorvex {

// Removes white space from both ends of the text.
void TrimBlanks(std::string* text);

// The text with a to z raised to A to Z; every other byte unchanged.
std::string ToUpperAscii(const std::string& text);

// The value of a valued option: from right after the first occurrence of `name` in `text`
// to just before the next " -" (searched from one character past the name), trimmed.
// `target` is left unchanged when the name does not occur or the text is empty.
void ScanOptionValue(const std::string& name, const std::string& text, std::string* target);

enum class AssignmentVariant { kBootstrapLoc, kJvmOptions, kPrereqDirectory, kPrereqFile };

// The value of the assignment NAME=value that starts at `name_pos` of `text`: a value that
// begins with a double quote runs to the next one, any other to the next blank. The
// PREREQ_CONFIG_LOCATION forms are made absolute (the file form names the "prereq"
// directory beside the file). `target` is unchanged when there is no "=" or no value.
void ParseAssignment(AssignmentVariant variant, const std::string& text, size_t name_pos,
                     const std::string& name, std::string* target);

// Scans the argument list (module path, command-line text) into the option state. The
// arguments are cut before "-J"; the upper-cased last argument, before the cut, is kept in
// `last_argument_upper` for the distribution message.
void ScanOptions(std::vector<std::string>* args, std::string* last_argument_upper);

// Chooses MAIN_CLASS by the mode flags; may set BOOTSTRAP to "F". True when the chosen
// mode may not run from a distribution medium.
bool SelectMode(config::Settings* settings);

}  // namespace zorvex
