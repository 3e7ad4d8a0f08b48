// Compiles a message source file (one "KEY=text" per line; "#" comments; escapes \n, \t,
// \s for a blank, \\ for a backslash) into the .nls record format the launcher reads: each
// record KEY=text ended by a NUL. The build fails when a key is missing, unknown or repeated,
// when a text takes arguments the launcher does not pass, or when a record is too long.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "messages/format.h"
#include "messages/message_keys.h"

namespace {

using zorvex::messages::FormatArg;
using zorvex::messages::FormatArgs;

bool Unescape(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out->push_back(in[i]);
      continue;
    }
    if (++i == in.size()) return false;
    switch (in[i]) {
      case 'n':
        out->push_back('\n');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 's':
        out->push_back(' ');
        break;
      case '\\':
        out->push_back('\\');
        break;
      default:
        return false;
    }
  }
  return true;
}

FormatArgs ArgsOfKinds(std::string_view kinds) {
  FormatArgs args;
  for (char k : kinds) args.push_back(k == 's' ? FormatArg("x") : FormatArg(1));
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: nls_compile SOURCE.txt OUTPUT.nls\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << argv[1] << ": cannot read\n";
    return 1;
  }
  std::map<std::string, std::string_view> known;
  for (const auto& k : zorvex::messages::kMessageKeys) known[std::string(k.key)] = k.args;
  std::map<std::string, std::string> texts;
  std::string line;
  int number = 0;
  bool ok = true;
  auto fail = [&](const std::string& why) {
    std::cerr << argv[1] << ":" << number << ": " << why << "\n";
    ok = false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      fail("no '=' in line");
      continue;
    }
    std::string key = line.substr(0, eq);
    std::string text;
    if (!Unescape(line.substr(eq + 1), &text)) fail("bad escape in " + key);
    if (!known.count(key))
      fail("unknown key " + key);
    else if (texts.count(key))
      fail("repeated key " + key);
    else if (!zorvex::messages::FormatFits(text, ArgsOfKinds(known[key])))
      fail(key + ": the text's conversions do not fit the arguments \"" + std::string(known[key]) +
           "\"");
    else if (key.size() + 1 + text.size() > 1022)
      fail(key + ": record longer than 1022 bytes");
    texts[key] = text;
  }
  for (const auto& [key, args] : known) {
    if (!texts.count(key)) {
      std::cerr << argv[1] << ": missing key " << key << "\n";
      ok = false;
    }
  }
  if (!ok) return 1;
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  for (const auto& [key, text] : texts) {
    out << key << '=' << text;
    out.put('\0');
  }
  out.close();
  if (!out) {
    std::cerr << argv[2] << ": cannot write\n";
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
