// The run's guard over the medium: when the launcher carries the digest of its medium's
// manifest, every file the run reads, copies, unpacks or runs from the medium is checked
// against the manifest first, and what the manifest does not list is refused. The guard
// wraps the platform's file system and profile reading, so that every reader goes through
// it; copies and the unzip check the very bytes they use (see the README: "Verified media").
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "manifest/manifest.h"
#include "messages/format.h"
#include "platform/platform.h"

namespace zorvex::access {

using manifest::Entry;
using manifest::Sha256Digest;

// Why the medium is refused: a message key and its arguments, said in the user's language
// on the console and in the log's in the log (in English where no catalogue may be read).
struct Refusal {
  std::string key;
  messages::FormatArgs args;
};

// What the guard of a run knows (held by the run's context).
struct GuardState {
  bool active = false;
  bool windows = false;
  platform::Platform native;  // the platform the guard stands in front of
  std::unique_ptr<platform::FileSystem> files;
  std::unique_ptr<platform::System> system;
  std::vector<std::string> launcher;  // the launcher directory's components, as keys
  std::string launcher_dir;
  manifest::Manifest manifest;
  std::map<std::string, const Entry*> by_key;
  std::set<std::string> dirs;  // the directories the manifest lists something below
  size_t levels = 0;           // how far above the launcher's directory the medium reaches
  std::set<std::string> own;   // the program and the manifest: vouched for otherwise
  std::map<std::string, std::string> verified;  // key: bytes read and checked once
  std::set<std::string> hashed;                 // key: files hashed whole and found as listed
  std::optional<Refusal> refusal;
};

// Reads the manifest beside the launcher (the program `program_name` in `launcher_dir`),
// checks it against the digest bound into the program and builds the guard around the
// run's platform: *guarded is the platform the run then uses. False with *error when the
// manifest is missing, unreadable or not the one vouched for. The program and the manifest
// are not the medium's files: the signature and the digest cover them.
bool GuardMedium(const std::string& launcher_dir, const std::string& program_name,
                 const Sha256Digest& bound, platform::Platform* guarded, Refusal* error);
bool MediumGuarded();

// What the manifest says of a path (relative paths against the working directory): not
// the medium's (the run's own, the user's choice, the system's, the launcher program and
// the manifest themselves, the launcher's directory and its parents), a listed file or
// link, a directory the manifest lists something below, or unlisted.
enum class Verdict { kNotOnMedium, kListed, kDirectory, kUnlisted };
struct Lookup {
  Verdict verdict = Verdict::kNotOnMedium;
  const Entry* entry = nullptr;  // when listed
  std::string key;               // on the medium: the path as the manifest names it
};
Lookup LookUp(const std::string& path);

// Whether a path may stand on Java's command line. On a verified medium, a path of the
// medium's side that the manifest does not list but that exists is refused (something was
// planted where Java would look); a class-path entry on the medium's side is dropped when
// the run staged (Java then reads only what staging wrote and checked) or when it names
// nothing listed, and a listed file Java reads in place is checked once more first.
// False when the element is to be left out.
bool ForJava(const std::string& path, bool class_path_entry, bool staged);

// The first refusal of the run, kept; later ones are not. Whether there is one, and its
// text for the console and for the log.
void RefuseMedium(const Refusal& refusal);
bool MediumRefused();
std::string MediumRefusal();
std::string MediumRefusalForLog();

// The refusals naming the file and what differed.
Refusal ChangedFile(const std::string& path, const std::string& how);
Refusal UnlistedFile(const std::string& path);
Refusal MissingFile(const std::string& path);

// The files of the manifest directly in the directory `dir` whose names end in `suffix`:
// their names and entries.
std::vector<std::pair<std::string, const Entry*>> ListedFilesIn(const std::string& dir,
                                                                const std::string& suffix);

// The files and links the manifest lists below the directory `dir` of the medium, by their
// paths below it ("/"-joined, as listed); none when the medium is not verified or `dir` is
// not the medium's.
std::vector<std::string> ListedBelow(const std::string& dir);

// Checks every file below the directories `dirs` of the medium against the manifest,
// hashing each (for a run that starts Java on the medium in place). False after refusing
// the first difference.
bool VerifyTrees(const std::vector<std::string>& dirs);

}  // namespace zorvex::access
