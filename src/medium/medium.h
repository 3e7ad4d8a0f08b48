// zorvex-medium: builds an installation medium from a runtime and jars, and checks a
// medium before it ships, reading it with the launcher's own code.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "medium/program_arch.h"
#include "medium/sign.h"

namespace zorvex::medium {

struct CheckOptions {
  std::string medium_dir = ".";  // the directory that holds the launcher
  bool json = false;
  bool probe = false;  // also run the prerequisite checks on this machine
  // The signatures of a Windows medium's programs: verified against this CA when given;
  // with signatures_only nothing else is checked (so that Linux can check a Windows
  // medium's signatures, which only osslsigncode there can verify).
  std::string ca_file;
  std::string keyring;  // a Linux medium's: the OpenPGP keys its signature must be made by
  bool signatures_only = false;
};

// Checks the medium and prints the report. 0 clean, 1 with warnings, 2 with errors.
int Check(const CheckOptions& options);

struct BuildOptions {
  std::string out;            // the medium's directory, made beside and renamed
  bool distribution = true;   // or the plain layout
  bool windows = false;       // the target: which launcher, catalogues, unzip
  Arch arch = Arch::kX86_64;  // the target's processor: its programs and runtime are for it
  std::string launcher_dir;   // where setup(.exe), resource/ and unzip(.exe) are
  std::string runtime;        // an existing Java runtime directory, or
  std::string jlink_modules;  // modules for jlink to make one (with --jdk)
  std::string jdk;            // the JDK whose jlink makes the runtime
  std::string jmods;          // the target JDK's jmods, when it is not this machine's
  std::vector<std::string> installer_jars;
  std::vector<std::string> core_jars;
  struct Component {
    std::string name, version, dir;
  };
  std::vector<Component> components;  // further components: trees packed as jars
  std::set<std::string> stored;       // components whose jars store their entries
  std::vector<std::string> settings;  // KEY=VALUE lines of the main section
  std::string prereqs;                // a file whose sections are added to zorparam.ini
  std::string version = "1.0.0.0.0";  // the version of the installer's own components
  SignOptions sign;                   // Authenticode signing of a Windows medium's programs
  // Signed by a service that keeps the key: the medium is built as OUT.unsigned, and the
  // data the unzip's signature must cover is written into OUT.to-sign (see Attach).
  bool sign_detached = false;
};

// Builds the medium. 0, or 2 after a message on standard error; nothing is left behind.
int Build(const BuildOptions& options);

struct AttachOptions {
  std::string out;        // the medium's directory, as given to the detached build
  std::string signature;  // the PKCS#7 signature (DER) the service returned
  std::string ca_file;    // the signature must verify against it; else against its own chain
  int timeout_seconds = kChildTimeoutSeconds;
};

// Attaches the signature of the program that waits for one in OUT.to-sign: first the
// unzip's (then the bill of materials and the manifest follow its new bytes, the launcher
// binds their digest, and the launcher's data is written), then the launcher's (then the
// medium is moved to OUT). A signature that does not verify for the program is refused
// and changes nothing; the medium is at OUT only when both are signed. 0, or 2.
int Attach(const AttachOptions& options);

}  // namespace zorvex::medium
