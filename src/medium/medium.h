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
};

// Builds the medium. 0, or 2 after a message on standard error; nothing is left behind.
int Build(const BuildOptions& options);

}  // namespace zorvex::medium
