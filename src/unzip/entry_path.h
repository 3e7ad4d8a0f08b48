// Where an entry goes below the destination: its name made safe. No entry may write
// outside the destination, whatever its name says.
#pragma once

#include <string>
#include <vector>

namespace zorvex::unzip {

struct SafePath {
  std::vector<std::string> components;  // empty: the entry has no place (skipped)
  bool stripped_absolute = false;       // a leading "/", or on Windows "\" or a drive
  bool skipped_parent = false;          // ".." components were dropped
  bool renamed = false;                 // characters the system cannot take were replaced
};

// The entry's name as components below the destination. Separators are "/", and on
// Windows also "\"; elsewhere a backslash is an ordinary character. "." and empty
// components are dropped, ".." components skipped, a leading "/" stripped. On Windows a
// drive ("C:") is stripped too; ':' and the other characters a Windows name cannot hold
// become '_', as do a name's trailing dots and blanks (Windows drops them, so that
// "report.txt." would name "report.txt"), and a device name ("CON", "lpt1.txt") gets a '_'
// in front: no name reaches a device or a second data stream, or aliases another name.
// `backslash` makes "\" separate elsewhere too (names from MS-DOS, NTFS and VFAT archivers
// that hold no "/").
SafePath MakeSafePath(const std::string& name, bool windows, bool backslash = false);

// True when a link at `link` (components below the destination) with this target stays
// inside the destination: a relative target whose leading ".." never climb above it, and
// with no ".." after a name.
bool LinkStaysInside(const std::vector<std::string>& link, const std::string& target);

// The components joined with "/".
std::string JoinComponents(const std::vector<std::string>& components);

}  // namespace zorvex::unzip
