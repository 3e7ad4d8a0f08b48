// zorvex-medium: build a medium, or check one.
//   zorvex-medium build --out DIR [options]     (zorvex-medium build -h for the options)
//   zorvex-medium check [MEDIUM] [--json] [--probe]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "medium/medium.h"
#include "platform/platform.h"
#include "run/run_context.h"

namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  zorvex-medium build --out DIR (--runtime DIR | --jlink-modules M1,M2 [--jdk DIR])\n"
    "      --installer-jar FILE ... [--core-jar FILE ...] [--layout distribution|plain]\n"
    "      [--target linux|linux-arm64|windows] [--jmods DIR] [--launcher-dir DIR]\n"
    "      [--component NAME:VERSION:DIR ...] [--store COMPONENT ...]\n"
    "      [--set KEY=VALUE ...] [--prereqs FILE] [--version V]\n"
    "      [--sign-cert FILE --sign-key FILE | --sign-pkcs12 FILE |\n"
    "       --sign-pkcs11-module LIB [--sign-pkcs11-engine SO] --sign-key pkcs11:URI\n"
    "       --sign-cert FILE|pkcs11:URI | --gpg-key ID (Linux media)] [--sign-password-file FILE]\n"
    "      [--timestamp-url URL] [--sign-time SECONDS]   (Windows media; password or PIN\n"
    "      also from ZORVEX_SIGN_PASSWORD, time also from SOURCE_DATE_EPOCH)\n"
    "      [--timeout SECONDS]   (how long signing may take, time-stamp included; 300)\n"
    "      [--sign-detached]   (Windows: signed by a service; see attach)\n"
    "    Makes a complete medium in DIR (a new directory): the launcher of the target with\n"
    "    its catalogues and unzip (from --launcher-dir, default: beside zorvex-medium),\n"
    "    zorparam.ini, the runtime and the jars; for the distribution layout packed as jars\n"
    "    in stage/Components/NAME/VERSION/1/DataFiles beside Disk1. The same inputs give the\n"
    "    same bytes. linux and windows are for x86-64. jlink makes a runtime for this\n"
    "    machine, or for the target whose JDK's jmods --jmods names (an arm64 JDK's for\n"
    "    linux-arm64). --store packs the component's jar uncompressed (zorvex.swd.jre: the\n"
    "    runtime): a larger medium that stages faster.\n"
    "  zorvex-medium check [MEDIUM] [--json] [--probe] [--ca-file FILE] [--keyring FILE]\n"
    "      [--signatures]\n"
    "    Reads the medium in MEDIUM (default: here) as the launcher would and reports what\n"
    "    it finds; --probe also runs its prerequisite checks on this machine. Exit status 0\n"
    "    clean, 1 warnings, 2 errors. A Linux launcher's OpenPGP signature is verified\n"
    "    against the keys in --keyring FILE; --signatures checks the signatures alone.\n"
    "  zorvex-medium attach --out DIR --signature FILE [--ca-file FILE]\n"
    "    After build --sign-detached: attaches the PKCS#7 signature a signing service made\n"
    "    of DIR.to-sign/unzip.exe.der, then (run again) of DIR.to-sign/setup.exe.der; each\n"
    "    must verify for its program, else nothing changes. The medium is moved from\n"
    "    DIR.unsigned to DIR once both are signed.\n";

int Usage(const std::string& error) {
  if (!error.empty()) std::fprintf(stderr, "zorvex-medium: %s\n", error.c_str());
  std::fputs(kUsage, error.empty() ? stdout : stderr);
  return error.empty() ? 0 : 2;
}

std::string SelfDir(const char* argv0) {
  std::string self = argv0;
  size_t cut = self.find_last_of("/\\");
  return cut == std::string::npos ? "." : self.substr(0, cut);
}

// The build's options that take their value as it stands; false for any other.
bool TakePlainValue(zorvex::medium::BuildOptions& o, const std::string& a, const std::string& v) {
  const std::map<std::string, std::string*> plain = {
      {"--out", &o.out},
      {"--jmods", &o.jmods},
      {"--launcher-dir", &o.launcher_dir},
      {"--runtime", &o.runtime},
      {"--jlink-modules", &o.jlink_modules},
      {"--jdk", &o.jdk},
      {"--prereqs", &o.prereqs},
      {"--version", &o.version},
      {"--sign-cert", &o.sign.cert},
      {"--sign-key", &o.sign.key},
      {"--sign-pkcs12", &o.sign.pkcs12},
      {"--gpg-key", &o.sign.openpgp_key},
      {"--sign-pkcs11-module", &o.sign.pkcs11_module},
      {"--sign-pkcs11-engine", &o.sign.pkcs11_engine},
      {"--sign-password-file", &o.sign.password_file},
      {"--timestamp-url", &o.sign.timestamp_url}};
  const std::map<std::string, std::vector<std::string>*> repeated = {
      {"--installer-jar", &o.installer_jars}, {"--core-jar", &o.core_jars}, {"--set", &o.settings}};
  if (auto it = plain.find(a); it != plain.end()) {
    *it->second = v;
  } else if (auto list = repeated.find(a); list != repeated.end()) {
    list->second->push_back(v);
  } else if (a == "--store") {
    o.stored.insert(v);
  } else {
    return false;
  }
  return true;
}

// The build's options whose value is read: "" when taken, else the usage error.
std::string TakeReadValue(zorvex::medium::BuildOptions& o, const std::string& a,
                          const std::string& v) {
  char* end = nullptr;
  if (a == "--layout") {
    if (v != "distribution" && v != "plain") return a + " " + v + ": unknown";
    o.distribution = v == "distribution";
  } else if (a == "--target") {
    if (v != "linux" && v != "linux-arm64" && v != "windows") return a + " " + v + ": unknown";
    o.windows = v == "windows";
    o.arch = zorvex::medium::TargetArch(v);
  } else if (a == "--timeout") {
    long seconds = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || seconds < 1 || seconds > 86400)
      return "--timeout SECONDS (1 to 86400)";
    o.sign.timeout_seconds = static_cast<int>(seconds);
  } else if (a == "--sign-time") {
    long long seconds = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || seconds < 0) return "--sign-time SECONDS since 1970";
    o.sign.time = seconds;
  } else if (a == "--component") {
    size_t c1 = v.find(':'), c2 = c1 == std::string::npos ? c1 : v.find(':', c1 + 1);
    if (c2 == std::string::npos) return "--component NAME:VERSION:DIR";
    o.components.push_back({v.substr(0, c1), v.substr(c1 + 1, c2 - c1 - 1), v.substr(c2 + 1)});
  } else {
    return "unknown option " + a;
  }
  return "";
}

int BuildCommand(const std::vector<std::string>& args, const char* argv0,
                 const std::optional<std::string>& password) {
  zorvex::medium::BuildOptions o;
  o.sign.password = password;
  o.launcher_dir = SelfDir(argv0);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") return Usage("");
    if (a == "--sign-detached") {
      o.sign_detached = true;
      continue;
    }
    if (i + 1 >= args.size()) return Usage(a + " needs a value");
    const std::string& v = args[++i];
    if (TakePlainValue(o, a, v)) continue;
    const std::string usage = TakeReadValue(o, a, v);
    if (!usage.empty()) return Usage(usage);
  }
  return zorvex::medium::Build(o);
}

int CheckCommand(const std::vector<std::string>& args) {
  zorvex::medium::CheckOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json")
      o.json = true;
    else if (a == "--probe")
      o.probe = true;
    else if (a == "--signatures")
      o.signatures_only = true;
    else if (a == "--ca-file" && i + 1 < args.size())
      o.ca_file = args[++i];
    else if (a == "--keyring" && i + 1 < args.size())
      o.keyring = args[++i];
    else if (a == "-h" || a == "--help")
      return Usage("");
    else if (!a.empty() && a[0] == '-')
      return Usage("unknown option " + a);
    else
      o.medium_dir = a;
  }
  return zorvex::medium::Check(o);
}

int AttachCommand(const std::vector<std::string>& args) {
  zorvex::medium::AttachOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") return Usage("");
    if (i + 1 >= args.size()) return Usage(a + " needs a value");
    const std::string& v = args[++i];
    if (a == "--out")
      o.out = v;
    else if (a == "--signature")
      o.signature = v;
    else if (a == "--ca-file")
      o.ca_file = v;
    else
      return Usage("unknown option " + a);
  }
  if (o.out.empty() || o.signature.empty()) return Usage("attach needs --out DIR --signature FILE");
  return zorvex::medium::Attach(o);
}

}  // namespace

static int Main(int argc, char** argv, const std::optional<std::string>& password) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("a command is needed: build or check");
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "build") return BuildCommand(args, argv[0], password);
  if (command == "check") return CheckCommand(args);
  if (command == "attach") return AttachCommand(args);
  if (command == "-h" || command == "--help") return Usage("");
  return Usage("unknown command " + command);
}

int main(int argc, char** argv) {
  const std::optional<std::string> password = zorvex::medium::TakeSignPassword();
  zorvex::RunContext context(zorvex::platform::NativePlatform());
  zorvex::RunScope scope(&context);
  // What throws (a file system call without an error code) ends the command with its
  // message, not with an abort.
  try {
    return Main(argc, argv, password);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zorvex-medium: %s\n", e.what());
    return 2;
  }
}
