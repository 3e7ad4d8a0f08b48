// The run's guard over the medium: when the launcher carries the digest of its medium's
// manifest, every file the run reads, copies, unpacks or runs from the medium is checked
// against the manifest first, and what the manifest does not list is refused. The guard
// wraps the platform's file system and profile reading, so that every reader goes through
// it; copies and the unzip check the very bytes they use (see the README: "Verified media").
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "manifest/manifest.h"

namespace zorvex::manifest {

// Reads the manifest beside the launcher (the program `program_name` in `launcher_dir`),
// checks it against the digest bound into the program and puts the guard in front of the
// platform. False with *error when the manifest is missing, unreadable or not the one
// vouched for. The program and the manifest are not the medium's files: the signature and
// the digest cover them.
bool GuardMedium(const std::string& launcher_dir, const std::string& program_name,
                 const Sha256Digest& bound, std::string* error);
// Takes the guard away again, forgetting its refusal (tests; a run's end).
void UnguardMedium();
bool MediumGuarded();

// Paths below this directory are the run's own, never the medium's, wherever it lies.
void SetRunDirectory(const std::string& dir);

enum class Verdict { kNotOnMedium, kListed, kUnlisted };
struct Lookup {
  Verdict verdict = Verdict::kNotOnMedium;
  const Entry* entry = nullptr;  // when listed
};
// What the manifest says of a path (relative paths against the working directory).
Lookup LookUp(const std::string& path);

// The first refusal of the run, kept; later ones are added to the log only.
void RefuseMedium(const std::string& text);
const std::string& MediumRefusal();

// The texts of the refusals, naming the file and what differed.
std::string ChangedText(const std::string& path, const std::string& how);
std::string UnlistedText(const std::string& path);
std::string MissingText(const std::string& path);

// The files of the manifest directly in the directory `dir` whose names end in `suffix`:
// their names and entries.
std::vector<std::pair<std::string, const Entry*>> ListedFilesIn(const std::string& dir,
                                                                const std::string& suffix);

// Checks every file below the directories `dirs` of the medium against the manifest,
// hashing each (for a run that starts Java on the medium in place). False after refusing
// the first difference.
bool VerifyTrees(const std::vector<std::string>& dirs);

}  // namespace zorvex::manifest
