// Whole directory trees: copied into a parallel tree while bootstrapping, removed at the
// end of a run. Both walk the tree breadth first; the queue grows as needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zorvex::bootstrap {

// Copies every file of the tree into the same place below `destination`, overwriting; a link
// is copied as a link (where the platform cannot, it is left out and the install log says
// so); pipes, devices and sockets are left out with a log line, never opened. False at
// the first file or directory that cannot be copied (what was copied so far stays). A
// source that is not there copies nothing and succeeds.
bool CopyTree(const std::string& source, const std::string& destination);

// CopyTree into `rel` ("/"-separated, "" for the root itself) below `root`: nothing is
// written through a link that stands below the root, `rel` included.
bool CopyTreeInto(const std::string& source, const std::string& root, const std::string& rel);
// The same into the writer of a root the run holds (`shown` names it in the log).
bool CopyTreeInto(const std::string& source, platform::TreeWriter* root, const std::string& shown,
                  const std::string& rel);

// Removes one of the run's own trees whole, read-only files included, working from a
// handle of its parent downwards: it never descends into a link, a tree that is a link is
// removed as a link, and a directory swapped for a link meanwhile leads nowhere. What
// cannot be removed (and its ancestors) stays and is added to *left when given.
void RemoveTree(const std::string& directory, std::vector<std::string>* left = nullptr);

// Gives every file and directory of the tree owner write permission (clears the read-only
// attribute on Windows), as copies are made, each through its own handle; links are
// neither changed nor followed.
void MakeTreeWritable(const std::string& directory);

// Copies one file, overwriting, and gives the copy owner read and write permission.
int CopyOneFile(const std::string& source, const std::string& destination);

// Writes to the install log how many files the bootstrap staged in {target}/jre and
// {target}/zek (S_NUMBER_OF_FILES_BOOTSTRAPPED).
void LogBootstrappedFileCounts(const std::string& target_dir);

// The number of files in the tree, all levels; directories are not counted, links count
// as files and are not followed.
uint32_t CountFiles(const std::string& directory);

}  // namespace zorvex::bootstrap
