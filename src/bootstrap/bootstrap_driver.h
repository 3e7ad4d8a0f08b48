// Staging the installer, its core, the patch tool, the Java runtime and the extra
// directories into the target directory, rewriting the settings to name the staged copies.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "manifest/manifest.h"
#include "platform/platform.h"
#include "safetree/tree.h"
#include "unzip/zip_archive.h"

namespace zorvex::bootstrap {

inline constexpr int kBootstrapFailed = 30;

struct BootstrapRequest {
  std::string target_dir;                         // the scratch directory, or BOOTSTRAP_LOC
  std::string startup_location;                   // the launcher's directory: the unzip lies there
  int64_t size_kb = 0;                            // BOOTSTRAP_SIZE in units of 1024
  bool copy_jre = true;                           // the negation of EXTJRE
  config::Settings* settings = nullptr;           // rewritten in place
  std::string* jre_location = nullptr;            // JRE_LOCATION, rewritten in place
  std::string* prereq_config_location = nullptr;  // PREREQ_CONFIG_LOCATION, rewritten
  // The target, held by the run: everything staging writes, changes or removes below it
  // goes through this writer. Null: opened by its path (tests of the driver alone).
  platform::TreeWriter* target = nullptr;
  // The user's entries of a given directory, by identity: nothing staged may land on one,
  // whatever name reaches it. Null when the target is the run's own.
  const std::set<safetree::FileId>* held_before = nullptr;
  // Receives what staging made at the top of the target, by identity (when given).
  std::set<safetree::FileId>* made = nullptr;
};

// Stages everything. kBootstrapFailed on failure (after saying why), 0 on success.
int BootstrapFiles(const BootstrapRequest& request);

// The unzip's arguments for the archives a verified medium lists in one directory: each
// one's name, size and SHA-256 (--sha256), and a large one's piece digests (--chunks), so
// that the unzip checks it on both cores, while all the pieces given stay within
// kMaxChunksOnTheCommandLine: a Windows command line holds 32 KiB, and an archive past
// that is checked by its whole digest alone.
inline constexpr size_t kMaxChunksOnTheCommandLine = 256;  // 16 KiB of digests, 1 GiB
std::string ListedArchiveArguments(
    const std::vector<std::pair<std::string, const manifest::Entry*>>& listed);

// Runs the unzip in `unzip_dir` on every jar of `source`, into `destination`. False
// (after S_UNZIP_FAILED) when the unzip fails.
bool UnzipJars(const std::string& source, const std::string& destination,
               const std::string& unzip_dir);

// A jar of a component directory (a file whose name ends in ".jar", as the unzip's
// wildcard takes it) with the entries of its central directory; none when it cannot be read.
// On a verified medium the directory is read only from bytes checked against the manifest
// (a jar not listed, or not as listed, is refused and lists nothing). `cache`, when given,
// keeps each jar's listing by path, so that a jar is read and checked once in a run.
struct JarListing {
  std::string name;
  std::vector<unzip::Entry> entries;
};
using JarCache = std::map<std::string, std::vector<unzip::Entry>>;
std::vector<JarListing> ListJars(const std::string& dir, JarCache* cache = nullptr);

// The free space for the calling user on the volume of the path, in KiB; 0 when unknown.
// A path that does not exist yet is measured on its nearest existing ancestor, whose
// volume it will be made on; *known (when given) says whether any could be read.
uint64_t GetFreeSpaceKb(const std::string& path, bool* known = nullptr);

}  // namespace zorvex::bootstrap
