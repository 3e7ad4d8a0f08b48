// The medium tool's side of the manifest: making it when a medium is built and binding its
// digest into the launcher before the launcher is signed; checking a medium against it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "medium/report.h"

namespace zorvex::medium {

// Reads a whole file. False with *error ("cannot read PATH: Input/output error") when it
// cannot be opened or a read fails part way: a file cut short is never taken for whole.
bool ReadWholeFile(const std::filesystem::path& path, std::string* bytes, std::string* error);
// Writes a whole file, replacing what was there. False with *error ("cannot write PATH: No
// space left on device").
bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes,
                    std::string* error);
// ": " and the system's text of errno ("No space left on device"), or "" when errno is 0.
std::string SystemReason();

// Writes the manifest of every file and link below `root` (the medium's directory) except
// the launcher program, the manifest and the build's marker, by paths relative to `disk`
// (the launcher's directory), and binds its digest into the launcher program. False after
// a message on standard error.
bool WriteAndBindManifest(const std::filesystem::path& root, const std::filesystem::path& disk,
                          const std::string& program, std::string* error);

// Fills the slot of a launcher program's bytes with the digest. False with *error when the
// program has no slot, or more than one.
bool BindDigest(std::string* program, const manifest::Sha256Digest& digest, std::string* error);
// The digest a launcher program's bytes carry. False when it has no slot; *digest is
// nullopt when the slot is empty.
bool ReadBoundDigest(const std::string& program, std::optional<manifest::Sha256Digest>* digest);

// Updates the manifest's entries of `paths` (relative to `disk`) to the files' bytes as
// they are now, every other entry as it was, and binds its new digest into the launcher
// program. False with *error, also when the manifest is not the one the launcher binds.
bool UpdateManifestEntries(const std::filesystem::path& disk, const std::string& program,
                           const std::vector<std::string>& paths, std::string* error);

// Reports each difference between the medium of the launcher `launcher` (in `disk`) and
// its manifest: a changed manifest, files missing, changed or not listed.
void CheckManifest(const std::string& disk, const std::string& launcher, Report* report);

}  // namespace zorvex::medium
