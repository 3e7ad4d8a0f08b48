#include "medium/manifest_tool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "unzip/zip_archive.h"

namespace zorvex::medium {

namespace fs = std::filesystem;

namespace {

std::vector<size_t> FindSlots(const std::string& bytes) {
  std::vector<size_t> at;
  const char* marker = ZORVEX_MANIFEST_SLOT_MARKER;
  for (size_t i = bytes.find(marker, 0, manifest::kSlotMarkerSize); i != std::string::npos;
       i = bytes.find(marker, i + 1, manifest::kSlotMarkerSize)) {
    at.push_back(i);
  }
  return at;
}

// The path of `file` as the launcher in `disk` names it: "/"-separated, with a leading run
// of ".." for what lies beside the launcher's directory.
std::string ManifestPath(const fs::path& file, const fs::path& disk) {
  return manifest::GenericUtf8Of(file.lexically_relative(disk));
}

bool IsJar(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".jar") == 0;
}

// An archive's central directory, where it begins and its SHA-256 to the end: the launcher
// reads and checks just that much to plan its staging. Nothing for a file that is no
// archive (a jar of a plain medium may be anything). False when the file cannot be read.
bool ListDirectoryOf(const fs::path& jar, manifest::Entry* entry) {
  std::string bytes, error;
  if (!ReadWholeFile(jar, &bytes, &error)) return false;
  unzip::Archive archive;
  int code = 0;
  if (unzip::ReadCentralDirectory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                  &archive, &error, &code) &&
      archive.directory_offset <= bytes.size()) {
    entry->directory_offset = archive.directory_offset;
    entry->directory_sha256 = manifest::Sha256Of(bytes.data() + archive.directory_offset,
                                                 bytes.size() - archive.directory_offset);
  }
  return true;
}

// A regular file's entry, as the manifest lists it: size and SHA-256, and for a jar its
// central directory and, from kChunkedFrom bytes on, its piece digests (only a large
// archive's reader checks it piece by piece). False when it cannot be read.
bool ListFile(const fs::path& file, const std::string& path, manifest::Entry* entry) {
  *entry = manifest::Entry();
  if (!manifest::HashFile(file, &entry->size, &entry->sha256,
                          IsJar(path) ? &entry->chunks : nullptr) ||
      (IsJar(path) && !ListDirectoryOf(file, entry))) {
    return false;
  }
  if (entry->size < manifest::kChunkedFrom) entry->chunks.clear();
  return true;
}

// Every file and link below `root` as the manifest would list it; *error for what a
// manifest cannot hold (a special file, a name with a tab or line break).
// A Windows medium's links are listed as the files they lead to: Windows (and a share
// served to it) reads a link on the medium as that file.
bool ListMedium(const fs::path& root, const fs::path& disk, const std::set<fs::path>& skip,
                bool follow_links, manifest::Manifest* listed, std::vector<std::string>* unreadable,
                std::string* error) {
  std::error_code ec;
  fs::path last;  // where the listing stood when it failed
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& e = *it;
    last = e.path();
    if (skip.count(e.path()) > 0) continue;
    const std::string path = ManifestPath(e.path(), disk);
    if (path.find_first_of("\t\r\n") != std::string::npos) {
      *error = e.path().string() +
               ": a name with a tab or line break cannot be listed in the "
               "medium's manifest";
      return false;
    }
    manifest::Entry entry;
    if (e.is_symlink(ec) && !(follow_links && fs::is_regular_file(e.path(), ec))) {
      entry.link = true;
      entry.target = manifest::GenericUtf8Of(fs::read_symlink(e.path(), ec));
      if (entry.target.find_first_of("\t\r\n") != std::string::npos) {
        *error = e.path().string() + ": a link target with a tab or line break cannot be listed";
        return false;
      }
    } else if (e.is_directory(ec)) {
      continue;
    } else if (!e.is_regular_file(ec)) {
      *error = e.path().string() + " is neither a file, a directory nor a link";
      return false;
    } else if (!ListFile(e.path(), path, &entry)) {
      if (unreadable == nullptr) {
        *error = "cannot read " + e.path().string() + SystemReason();
        return false;
      }
      unreadable->push_back(path);
      continue;
    }
    (*listed)[path] = entry;
  }
  if (ec) {
    *error = "cannot list " + root.string() + (last.empty() ? "" : " past " + last.string()) +
             ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

std::string SystemReason() { return errno != 0 ? ": " + std::string(std::strerror(errno)) : ""; }

bool ReadWholeFile(const fs::path& path, std::string* bytes, std::string* error) {
  bytes->clear();
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  bool ok = static_cast<bool>(in);
  try {
    // Room for the whole file at once: a launcher or a jar of tens of megabytes read in
    // growing copies cost the check most of its time. The size, from the open stream, is
    // only a hint (what is read is what counts); a stream that cannot seek (a pipe) is
    // read without it, from where it stands, since a failed seek moves nothing.
    if (ok) {
      in.seekg(0, std::ios::end);
      const std::streamoff size = in.tellg();
      in.seekg(0, std::ios::beg);
      if (!in) {
        in.clear();
      } else if (size > 0 && static_cast<uintmax_t>(size) < bytes->max_size()) {
        bytes->reserve(static_cast<size_t>(size));
      }
    }
    // The file stream reports a failed read as bad(), not as the end of the file.
    for (char buf[1 << 16]; ok;) {
      in.read(buf, sizeof buf);
      bytes->append(buf, static_cast<size_t>(in.gcount()));
      if (in.bad()) ok = false;
      if (!in) break;
    }
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) {
    *error = "cannot read " + path.string() + SystemReason();
    bytes->clear();
  }
  return ok;
}

bool WriteWholeFile(const fs::path& path, const std::string& bytes, std::string* error) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) *error = "cannot write " + path.string() + SystemReason();
  return static_cast<bool>(out);
}

namespace {

// Writes the manifest's text and binds its digest into the launcher program's bytes, which
// replace the program.
bool WriteAndBind(const fs::path& disk, const std::string& program, const std::string& text,
                  std::string* bytes, std::string* error) {
  if (!WriteWholeFile(disk / manifest::kManifestName, text, error)) return false;
  if (!BindDigest(bytes, manifest::Sha256Of(text), error)) {
    *error = (disk / program).string() + ": " + *error;
    return false;
  }
  return WriteWholeFile(disk / program, *bytes, error);
}

}  // namespace

bool BindDigest(std::string* program, const manifest::Sha256Digest& digest, std::string* error) {
  std::vector<size_t> at = FindSlots(*program);
  if (at.size() != 1) {
    *error = at.empty() ? "the launcher program has no place for the medium's manifest (a "
                          "launcher of an older version?)"
                        : "the launcher program has more than one place for the medium's "
                          "manifest";
    return false;
  }
  std::memcpy(program->data() + at[0] + manifest::kSlotMarkerSize, digest.data(), digest.size());
  return true;
}

bool ReadBoundDigest(const std::string& program, std::optional<manifest::Sha256Digest>* digest) {
  std::vector<size_t> at = FindSlots(program);
  if (at.size() != 1 || at[0] + manifest::kSlotMarkerSize + 32 > program.size()) return false;
  manifest::Sha256Digest d;
  std::memcpy(d.data(), program.data() + at[0] + manifest::kSlotMarkerSize, d.size());
  *digest = d == manifest::Sha256Digest{} ? std::nullopt : std::optional(d);
  return true;
}

bool WriteAndBindManifest(const fs::path& root, const fs::path& disk, const std::string& program,
                          std::string* error) {
  manifest::Manifest listed;
  const std::set<fs::path> skip = {disk / program, disk / manifest::kManifestName,
                                   root / ".zorvex-medium-build"};
  const bool windows = program.size() > 4 && program.substr(program.size() - 4) == ".exe";
  if (!ListMedium(root, disk, skip, windows, &listed, nullptr, error)) return false;
  std::string bytes;
  return ReadWholeFile(disk / program, &bytes, error) &&
         WriteAndBind(disk, program, manifest::Format(listed), &bytes, error);
}

bool UpdateManifestEntries(const fs::path& disk, const std::string& program,
                           const std::vector<std::string>& paths, std::string* error) {
  std::string bytes, text;
  std::optional<manifest::Sha256Digest> bound;
  const fs::path manifest_path = disk / manifest::kManifestName;
  if (!ReadWholeFile(disk / program, &bytes, error) ||
      !ReadWholeFile(manifest_path, &text, error)) {
    return false;
  }
  manifest::Manifest listed;
  if (!ReadBoundDigest(bytes, &bound) || !bound || manifest::Sha256Of(text) != *bound ||
      !manifest::Parse(text, &listed, error)) {
    *error = manifest::Utf8Of(manifest_path) + " is not the manifest " + program + " binds";
    return false;
  }
  for (const std::string& path : paths) {
    auto entry = listed.find(path);
    if (entry == listed.end() || entry->second.link ||
        !ListFile(disk / manifest::PathOfUtf8(path), path, &entry->second)) {
      *error = "cannot list " + path + " anew in " + manifest::Utf8Of(manifest_path);
      return false;
    }
  }
  return WriteAndBind(disk, program, manifest::Format(listed), &bytes, error);
}

namespace {

// The manifest the launcher vouches for, read and parsed; false after reporting why there
// is none to compare the medium with.
bool ReadVouchedManifest(const fs::path& disk, const std::string& launcher,
                         manifest::Manifest* listed, Report* r) {
  std::string bytes;
  std::optional<manifest::Sha256Digest> bound;
  std::string error;
  if (!ReadWholeFile(manifest::PathOfUtf8(launcher), &bytes, &error)) {
    r->Error("Manifest", error + ".");
    return false;
  }
  if (!ReadBoundDigest(bytes, &bound)) {
    r->Warn("Manifest",
            "The launcher has no place for a manifest (an older version): the "
            "medium's files are not verified when it runs.");
    return false;
  }
  if (!bound) {
    r->Info("Manifest",
            "The launcher carries no manifest: the medium's files are not verified "
            "when it runs (zorvex-medium build binds one into the launcher).");
    return false;
  }
  const fs::path manifest_path = disk / manifest::kManifestName;
  std::string text;
  if (!ReadWholeFile(manifest_path, &text, &error)) {
    std::error_code ec;
    r->Error("Manifest", fs::exists(manifest_path, ec) || ec
                             ? error + "."
                             : manifest::Utf8Of(manifest_path) +
                                   " is missing: the launcher refuses to run anything from the "
                                   "medium.");
    return false;
  }
  if (manifest::Sha256Of(text) != *bound) {
    r->Error("Manifest", manifest::Utf8Of(manifest_path) + " was changed: its SHA-256 is " +
                             manifest::ToHex(manifest::Sha256Of(text)) +
                             ", where the launcher vouches for " + manifest::ToHex(*bound) + ".");
    return false;
  }
  if (!manifest::Parse(text, listed, &error)) {
    r->Error("Manifest", manifest::Utf8Of(manifest_path) + ": " + error + ".");
    return false;
  }
  return true;
}

// How a file or link found differs from its entry; empty when it does not.
std::string HowItDiffers(const manifest::Entry& want, const manifest::Entry& got) {
  if (want.link != got.link) {
    return want.link ? "a file, where the manifest lists a link"
                     : "a link, where the manifest lists a file";
  }
  if (want.link) {
    return want.target == got.target
               ? ""
               : "a link to " + got.target + ", where the manifest lists " + want.target;
  }
  if (want.size != got.size) {
    return std::to_string(got.size) + " bytes, where the manifest lists " +
           std::to_string(want.size);
  }
  if (want.sha256 != got.sha256) {
    return "SHA-256 " + manifest::ToHex(got.sha256) + ", where the manifest lists " +
           manifest::ToHex(want.sha256);
  }
  if (want.directory_offset != got.directory_offset ||
      want.directory_sha256 != got.directory_sha256) {
    return "its central directory is not where, or not what, the manifest lists";
  }
  // Piece digests that are not those of the bytes the whole digest vouches for would let
  // a reader that checks the pieces take other bytes.
  if (!want.chunks.empty() && want.chunks != got.chunks) {
    return "the digests of its pieces are not those the manifest lists";
  }
  return "";
}

// Reports each difference between what the manifest lists and what the medium holds.
void CompareWithMedium(const manifest::Manifest& listed, const manifest::Manifest& found,
                       const std::vector<std::string>& unreadable, Report* r) {
  size_t differences = 0;
  for (const auto& [path, want] : listed) {
    auto have = found.find(path);
    if (have == found.end()) {
      const bool cannot_read =
          std::find(unreadable.begin(), unreadable.end(), path) != unreadable.end();
      r->Error("Manifest", path + (cannot_read ? " cannot be read" : " is missing") +
                               ": the manifest lists it.");
      ++differences;
      continue;
    }
    const std::string how = HowItDiffers(want, have->second);
    if (!how.empty()) {
      r->Error("Manifest", path + " was changed: " + how + ".");
      ++differences;
    }
  }
  for (const auto& [path, entry] : found) {
    if (listed.count(path) == 0) {
      r->Error("Manifest", path +
                               " is not listed in the manifest: the launcher refuses to "
                               "stage or run it.");
      ++differences;
    }
  }
  if (differences == 0) {
    r->Info("Manifest", "Every one of the " + std::to_string(listed.size()) +
                            " files and links the manifest lists is as listed, and nothing else "
                            "is on the medium.");
  }
}

}  // namespace

void CheckManifest(const std::string& disk_text, const std::string& launcher, Report* r) {
  const fs::path disk = manifest::PathOfUtf8(disk_text);
  const std::string program = manifest::Utf8Of(manifest::PathOfUtf8(launcher).filename());
  manifest::Manifest listed;
  if (!ReadVouchedManifest(disk, launcher, &listed, r)) return;
  // The medium's directory: as far above the launcher's as the manifest reaches.
  size_t up = 0;
  for (const auto& [path, entry] : listed) {
    size_t n = 0;
    while (path.compare(3 * n, 3, "../") == 0) ++n;
    up = std::max(up, n);
  }
  fs::path root = disk;
  for (size_t i = 0; i < up; ++i) root = root.parent_path();
  manifest::Manifest found;
  std::vector<std::string> unreadable;
  std::string error;
  const bool windows = program.size() > 4 && program.substr(program.size() - 4) == ".exe";
  // The launcher, the manifest it vouches for, and a Linux launcher's OpenPGP signature,
  // which covers them and so cannot be listed among them.
  if (!ListMedium(root, disk,
                  {disk / program, disk / manifest::kManifestName, disk / (program + ".sig")},
                  windows, &found, &unreadable, &error)) {
    r->Error("Manifest", error + ".");
    return;
  }
  CompareWithMedium(listed, found, unreadable, r);
}

}  // namespace zorvex::medium
