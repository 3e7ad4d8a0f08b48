#include "platform/command_line.h"

namespace zorvex::platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name: a quoted run up to the next quote, or a run up to the first blank.
// Backslashes are literal, except that 2n+1 of them before a quote stand for n and a
// literal quote: a Windows program path never holds a quote, but a POSIX one may (a medium
// under My "Product"), and QuoteAlways writes it so.
size_t TakeProgramName(const std::string& text, std::string* name) {
  size_t i = 0;
  bool quoted = false;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\\') {
      size_t run = 0;
      while (i + run < text.size() && text[i + run] == '\\') ++run;
      if (run % 2 == 1 && i + run < text.size() && text[i + run] == '"') {
        name->append(run / 2, '\\');
        name->push_back('"');
        i += run + 1;
        continue;
      }
      name->append(run, '\\');
      i += run;
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
    } else if (IsBlank(c) && !quoted) {
      break;
    } else {
      name->push_back(c);
    }
    ++i;
  }
  return i;
}

// Writes `count` backslashes followed by the quote rule of the C runtime.
void EmitBackslashes(std::string* out, size_t count) { out->append(count, '\\'); }

}  // namespace

std::vector<std::string> SplitWindowsCommandLine(const std::string& text) {
  std::vector<std::string> args;
  if (text.empty()) return args;
  std::string current;
  size_t i = TakeProgramName(text, &current);
  args.push_back(current);
  while (true) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) break;
    current.clear();
    bool quoted = false;
    while (i < text.size()) {
      char c = text[i];
      if (c == '\\') {
        size_t run = 0;
        while (i < text.size() && text[i] == '\\') ++run, ++i;
        if (i < text.size() && text[i] == '"') {
          EmitBackslashes(&current, run / 2);
          if (run % 2 == 1) {
            current.push_back('"');
            ++i;
          }
        } else {
          EmitBackslashes(&current, run);
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
          current.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      if (IsBlank(c) && !quoted) break;
      current.push_back(c);
      ++i;
    }
    args.push_back(current);
  }
  return args;
}

std::string QuoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  return QuoteAlways(arg);
}

std::string QuoteAlways(const std::string& arg) {
  std::string out = "\"";
  out.reserve(arg.size() + 8);
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      EmitBackslashes(&out, backslashes * 2 + 1);
    } else {
      EmitBackslashes(&out, backslashes);
    }
    backslashes = 0;
    out.push_back(c);
  }
  // Backslashes before the closing quote are doubled so that they stay literal.
  EmitBackslashes(&out, backslashes * 2);
  out.push_back('"');
  return out;
}

std::string JoinArgumentsAsTyped(const std::vector<std::string>& args) {
  std::string text;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) text.push_back(' ');
    const std::string& arg = args[i];
    size_t eq = arg.find('=');
    if (arg.empty()) {
      text += "\"\"";
    } else if (eq != std::string::npos && eq > 0 &&
               arg.find_first_of(" \t\"", eq + 1) != std::string::npos &&
               arg.find_first_of(" \t\"") > eq) {
      text += arg.substr(0, eq + 1) + QuoteWindowsArgument(arg.substr(eq + 1));
    } else {
      text += arg;
    }
  }
  return text;
}

}  // namespace zorvex::platform
