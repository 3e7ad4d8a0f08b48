#include "bootstrap/tree_ops.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "access/guard.h"
#include "inventory/logs.h"
#include "messages/catalogue.h"
#include "paths/paths.h"
#include "platform/platform.h"

namespace zorvex::bootstrap {

namespace {

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// A link in a tree is copied as a link where the platform can, else left out and named in
// the install log; what it points at is never copied. False when the copy failed.
bool CopyLinkEntry(platform::TreeWriter* writer, const std::string& from, const std::string& to) {
  switch (writer->CopyLink(from, to)) {
    case platform::FileSystem::LinkCopy::kCopied:
      return true;
    case platform::FileSystem::LinkCopy::kNotCopied:
      inventory::WriteLog("The link " + from + " is not copied: links are not followed.\n");
      return true;
    case platform::FileSystem::LinkCopy::kFailed:
      break;
  }
  return false;
}

std::string Below(const std::string& rel, const std::string& name) {
  return rel.empty() ? name : rel + "/" + name;
}

}  // namespace

namespace {

// A copy from a verified medium is checked as an unpacking is: every file and link its
// manifest lists below the source has arrived below `rel`, or the copy refuses the medium
// naming the first one missing (deleted, or a pipe put in its place, which the copy leaves
// out). False after refusing.
bool ListedArrived(const std::string& source, platform::TreeWriter* writer,
                   const std::string& rel) {
  for (const std::string& sub : access::ListedBelow(source)) {
    platform::DirEntry found;
    if (writer != nullptr && writer->Find(Below(rel, sub), &found) && !found.is_special &&
        !found.is_directory) {
      continue;
    }
    std::string path = source;
    for (size_t from = 0; from < sub.size();) {
      const size_t end = std::min(sub.find('/', from), sub.size());
      paths::AppendPath(&path, sub.substr(from, end - from));
      from = end + 1;
    }
    std::string full;
    paths::GetFullPath(&full, path);
    const access::Refusal missing = access::MissingFile(full);
    access::RefuseMedium(missing);
    inventory::WriteLog(messages::FormatLogMessageText(missing.key, missing.args));
    return false;
  }
  return true;
}

// The copy itself; `writer` gives the root's writer when the first directory is to be
// written into (null when it cannot be had), so that a source that is not there makes
// nothing.
bool CopyWith(const std::string& source, const std::string& root, const std::string& rel,
              const std::function<platform::TreeWriter*()>& writer_of_root) {
  platform::FileSystem& files = *platform::Os().files;
  // An empty path never stands for the current drive's root.
  if (source.empty()) return true;
  // Breadth first, each source directory with its place below the root. It never descends
  // into a link: a link is copied as a link, so that what it points at (which may lie
  // anywhere) is never read, and links that form a loop end nothing.
  std::vector<std::pair<std::string, std::string>> queue{{source, rel}};
  platform::TreeWriter* writer = nullptr;
  std::vector<platform::DirEntry> entries;
  for (size_t i = 0; i < queue.size(); ++i) {
    const auto [from_dir, to_dir] = queue[i];
    if (!files.ListDirectory(from_dir, &entries)) {
      // A source that is not there copies nothing; one that is there but cannot be read
      // (or a directory below it) would be copied with files missing.
      if (i == 0 && !files.IsDirectory(from_dir)) continue;
      inventory::WriteLog("The directory " + from_dir + " cannot be read: it is not copied.\n");
      return false;
    }
    if (writer == nullptr) writer = writer_of_root();
    if (writer == nullptr || !writer->MakeDirs(to_dir)) {
      inventory::WriteLog("Nothing is copied into " + paths::JoinPath(root, to_dir) +
                          ": it cannot be made, or a link or a file stands in its way.\n");
      return false;
    }
    for (const platform::DirEntry& entry : entries) {
      if (IsDotEntry(entry.name)) continue;
      const std::string from = paths::JoinPath(from_dir, entry.name);
      const std::string to = Below(to_dir, entry.name);
      if (entry.is_link) {
        if (!CopyLinkEntry(writer, from, to)) {
          inventory::WriteLog("The link " + from + " cannot be copied to " +
                              paths::JoinPath(root, to) + ".\n");
          return false;
        }
      } else if (entry.is_directory) {
        queue.emplace_back(from, to);
      } else if (entry.is_special) {
        inventory::WriteLog("The special file " + from +
                            " is not copied: only directories, files and links are.\n");
      } else if (!writer->CopyRegularFile(from, to)) {
        inventory::WriteLog("The file " + from + " cannot be copied to " +
                            paths::JoinPath(root, to) + ".\n");
        return false;
      }
    }
  }
  return ListedArrived(source, writer, rel);
}

}  // namespace

bool CopyTreeInto(const std::string& source, const std::string& root, const std::string& rel) {
  std::unique_ptr<platform::TreeWriter> opened;
  return CopyWith(source, root, rel, [&] {
    opened = platform::Os().files->OpenTreeWriter(root, true);
    return opened.get();
  });
}

bool CopyTreeInto(const std::string& source, platform::TreeWriter* root, const std::string& shown,
                  const std::string& rel) {
  return CopyWith(source, shown, rel, [&] { return root; });
}

bool CopyTree(const std::string& source, const std::string& destination) {
  return CopyTreeInto(source, destination, "");
}

namespace {

// The tree of the directory's parent, and the directory's name in it: the run's own trees
// are changed and removed from a handle of their parent downwards.
std::unique_ptr<platform::TreeWriter> ParentTree(const std::string& directory, std::string* leaf) {
  const platform::PathStyle& style = *platform::Os().style;
  std::string path = directory;
  while (path.size() > 1 && path.back() == style.separator) path.pop_back();
  size_t cut = path.find_last_of(style.separator);
  *leaf = path.substr(cut == std::string::npos ? 0 : cut + 1);
  std::string parent = cut == std::string::npos ? "." : path.substr(0, cut == 0 ? 1 : cut);
  // "C:" alone names the drive's current directory, not its root.
  if (style.drive_letters && parent.size() == 2 && parent[1] == ':') parent += style.separator;
  if (leaf->empty() || *leaf == "." || *leaf == "..") return nullptr;
  return platform::Os().files->OpenTreeWriter(parent, false);
}

}  // namespace

void RemoveTree(const std::string& directory, std::vector<std::string>* left) {
  if (directory.empty()) return;
  std::vector<std::string> kept;
  std::string leaf;
  std::unique_ptr<platform::TreeWriter> tree = ParentTree(directory, &leaf);
  if (tree) {
    tree->Remove(leaf, &kept);
  } else if (paths::FileExists(directory)) {
    kept.push_back(directory);
  }
  if (left != nullptr) left->insert(left->end(), kept.begin(), kept.end());
}

void MakeTreeWritable(const std::string& directory) {
  std::string leaf;
  std::unique_ptr<platform::TreeWriter> tree = ParentTree(directory, &leaf);
  if (tree) tree->MakeWritable(leaf);
}

int CopyOneFile(const std::string& source, const std::string& destination) {
  platform::FileSystem& files = *platform::Os().files;
  return files.CopyFileOverwriting(source, destination) ? 0 : -1;
}

void LogBootstrappedFileCounts(const std::string& target_dir) {
  for (const char* name : {"jre", "zek"}) {
    long long count = CountFiles(paths::JoinPath(target_dir, name));
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
        queue.push_back(paths::JoinPath(queue[i], entry.name));
      } else {
        ++count;
      }
    }
  }
  return count;
}

}  // namespace zorvex::bootstrap
