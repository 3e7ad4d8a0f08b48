#include "bootstrap/tree_ops.h"

#include <vector>

#include "inventory/logs.h"
#include "messages/catalogue.h"
#include "paths/paths.h"
#include "platform/platform.h"

namespace zorvex::bootstrap {

namespace {

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

std::string Join(const std::string& dir, const std::string& name) {
  std::string path = dir;
  paths::AppendPath(&path, name);
  return path;
}

// A link in a tree is copied as a link where the platform can, else left out and named in
// the install log; what it points at is never copied. 0, or -1 when the copy failed.
int CopyLinkEntry(const std::string& from, const std::string& to) {
  switch (platform::Os().files->CopyLink(from, to)) {
    case platform::FileSystem::LinkCopy::kCopied:
      return 0;
    case platform::FileSystem::LinkCopy::kNotCopied:
      inventory::WriteLog("The link " + from + " is not copied: links are not followed.\n");
      return 0;
    case platform::FileSystem::LinkCopy::kFailed:
      break;
  }
  return -1;
}

// The walk shared by copying (with a destination) and removing (without one). It never
// descends into a link: a link is copied or removed as a link, so that what it points at
// (which may lie anywhere) is never touched, and links that form a loop end nothing.
int WalkTree(const std::string& source, const std::string* destination) {
  platform::FileSystem& files = *platform::Os().files;
  // An empty path never stands for the current drive's root.
  if (source.empty()) return 0;
  std::vector<std::string> sources{source};
  std::vector<std::string> targets;
  if (destination != nullptr) targets.push_back(*destination);
  std::vector<platform::DirEntry> entries;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!files.ListDirectory(sources[i], &entries)) continue;
    if (destination != nullptr) files.MakeDir(targets[i], false);
    for (const platform::DirEntry& entry : entries) {
      if (IsDotEntry(entry.name)) continue;
      std::string from = Join(sources[i], entry.name);
      if (entry.is_link) {
        if (destination == nullptr) {
          files.RemoveLink(from);
        } else if (CopyLinkEntry(from, Join(targets[i], entry.name)) != 0) {
          return -1;
        }
      } else if (entry.is_directory) {
        sources.push_back(from);
        if (destination != nullptr) targets.push_back(Join(targets[i], entry.name));
      } else if (destination != nullptr) {
        if (CopyOneFile(from, Join(targets[i], entry.name)) != 0) return -1;
      } else {
        files.RemoveFile(from);
      }
    }
  }
  if (destination == nullptr) {
    for (size_t i = sources.size(); i-- > 0;) files.RemoveDir(sources[i]);
  }
  return 0;
}

}  // namespace

int CopyTree(const std::string& source, const std::string& destination) {
  return WalkTree(source, &destination);
}

int RemoveTree(const std::string& directory) {
  // A tree that is itself a link goes as a link; its target is not the run's to empty.
  if (!directory.empty() && platform::Os().files->IsLink(directory)) {
    platform::Os().files->RemoveLink(directory);
    return 0;
  }
  return WalkTree(directory, nullptr);
}

int CopyOneFile(const std::string& source, const std::string& destination) {
  platform::FileSystem& files = *platform::Os().files;
  return files.CopyFileOverwriting(source, destination) ? 0 : -1;
}

void LogBootstrappedFileCounts(const std::string& target_dir) {
  for (const char* name : {"jre", "zek"}) {
    long long count = CountFiles(Join(target_dir, name));
    inventory::WriteLog(
        messages::FormatLogMessageText("S_NUMBER_OF_FILES_BOOTSTRAPPED", {name, count}));
  }
}

uint32_t CountFiles(const std::string& directory) {
  platform::FileSystem& files = *platform::Os().files;
  if (directory.empty()) return 0;
  std::vector<std::string> queue{directory};
  std::vector<platform::DirEntry> entries;
  uint32_t count = 0;
  for (size_t i = 0; i < queue.size(); ++i) {
    if (!files.ListDirectory(queue[i], &entries)) continue;
    for (const platform::DirEntry& entry : entries) {
      if (IsDotEntry(entry.name)) continue;
      if (entry.is_directory && !entry.is_link) {
        queue.push_back(Join(queue[i], entry.name));
      } else {
        ++count;
      }
    }
  }
  return count;
}

}  // namespace zorvex::bootstrap
