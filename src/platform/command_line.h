// Windows command-line texts: how a list of arguments is written as one text, and how the
// C runtime splits such a text back into arguments. Pure functions, built for every target,
// so that a Java started on Linux receives the arguments it would receive on Windows.
#pragma once

#include <string>
#include <vector>

namespace zorvex::platform {

// Splits a command-line text the way the Windows C runtime builds argv: the first word is
// the program name (quotes group, no escapes); later words follow the backslash and quote
// rules (2n backslashes + quote: n backslashes and a quote toggle; 2n+1: n backslashes and
// a literal quote; "" inside quotes: a literal quote). Empty quoted words are kept.
std::vector<std::string> SplitWindowsCommandLine(const std::string& text);

// Quotes one argument so that SplitWindowsCommandLine gives it back unchanged; an
// argument that needs no quotes stands bare.
std::string QuoteWindowsArgument(const std::string& arg);

// The text in double quotes, written so that the C runtime reads it back exactly:
// backslashes before a double quote (the closing one included) doubled, inner double
// quotes escaped. Also for a part of an argument, as in -Dname="value".
std::string QuoteAlways(const std::string& text);

// The command-line text that the POSIX entry hands to the run sequence: the arguments
// joined with one blank, each written as a Windows user types it. NAME=value whose value
// holds a blank, tab or double quote becomes NAME="value"; an empty argument becomes "";
// every other argument stands bare, blanks included.
std::string JoinArgumentsAsTyped(const std::vector<std::string>& args);

}  // namespace zorvex::platform
