// What the unzip does with one archive: unpack it below a destination, list it, or test
// every entry's data.
#pragma once

#include <string>

namespace zorvex::unzip {

class MappedArchive;

struct Options {
  enum class Mode { kExtract, kList, kTest };
  Mode mode = Mode::kExtract;
  int quiet = 0;           // each -q quietens more
  bool overwrite = false;  // -o: replace existing files without asking
  std::string destination = ".";
  unsigned threads = 0;  // 0: one per processor
};

// Handles one archive and returns its exit status (ExitCode): 0, or the worst of what
// happened to its entries. Every entry that can be unpacked is unpacked.
int ProcessArchive(const std::string& path, const Options& options);
// The same for an archive already in memory (read and checked by the caller).
int ProcessArchiveData(const std::string& path, const MappedArchive& data, const Options& options);

}  // namespace zorvex::unzip
