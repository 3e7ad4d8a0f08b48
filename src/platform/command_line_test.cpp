#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace zorvex::platform {
namespace {

using Args = std::vector<std::string>;

TEST(SplitWindowsCommandLineTest, FollowsTheRuntimeRules) {
  const std::pair<std::string, Args> cases[] = {
      {"", {}},
      {"prog", {"prog"}},
      {"\"C:\\Program Files\\java.exe\" a", {"C:\\Program Files\\java.exe", "a"}},
      {"p a  b\tc ", {"p", "a", "b", "c"}},
      {"p \"\" x", {"p", "", "x"}},  // empty argument kept
      {"p \"a b\"c", {"p", "a bc"}},
      {"p a\\\\b", {"p", "a\\\\b"}},         // backslashes without quote
      {"p a\\\"b", {"p", "a\"b"}},           // 2n+1: literal quote
      {"p a\\\\\"b c\"", {"p", "a\\b c"}},   // 2n: quote toggles
      {"p \"a\\\\\" b", {"p", "a\\", "b"}},  // trailing backslash in quotes
      // A POSIX program path holding a quote, as QuoteAlways writes it.
      {"\"/m/My \\\"P\\\"/unzip\" -q", {"/m/My \"P\"/unzip", "-q"}},
      {"p \"a\"\"b\"", {"p", "a\"b"}},  // "" inside quotes
      {"p -Dk=\"v w\"", {"p", "-Dk=v w"}},
      {"\"C:\\a\\java.exe\"  -cp \"x;y\" Main", {"C:\\a\\java.exe", "-cp", "x;y", "Main"}},
      {"p é漢字", {"p", "é漢字"}},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(SplitWindowsCommandLine(text), expected);
  }
}

TEST(QuoteWindowsArgumentTest, RoundTripsThroughTheSplitter) {
  const Args args = {"plain",
                     "",
                     "two words",
                     "tab\there",
                     "quote\"inside",
                     "trailing\\",
                     "C:\\dir with space\\",
                     "\\\\server\\share",
                     "a\\\"b",
                     "ü漢"};
  std::string line = "prog";
  for (const std::string& arg : args) line += " " + QuoteWindowsArgument(arg);
  Args expected = {"prog"};
  expected.insert(expected.end(), args.begin(), args.end());
  EXPECT_EQ(SplitWindowsCommandLine(line), expected);
}

TEST(JoinArgumentsAsTypedTest, WritesArgumentsAsAWindowsUserTypesThem) {
  const std::pair<Args, std::string> cases[] = {
      {{}, ""},
      {{"-silent", "-debug"}, "-silent -debug"},
      {{"-paramFile", "C:\\a b\\zorparam.ini"}, "-paramFile C:\\a b\\zorparam.ini"},
      {{"JVM_OPTIONS=-Xmx512m -Dk=v"}, "JVM_OPTIONS=\"-Xmx512m -Dk=v\""},
      {{"BOOTSTRAP_LOC=/stage"}, "BOOTSTRAP_LOC=/stage"},
      {{""}, "\"\""},
      {{"a b=c d"}, "a b=c d"},  // the blank stands before "=": not an assignment
  };
  for (const auto& [args, expected] : cases) EXPECT_EQ(JoinArgumentsAsTyped(args), expected);
}

}  // namespace
}  // namespace zorvex::platform
