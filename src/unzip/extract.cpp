#include "unzip/extract.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "unzip/entry_path.h"
#include "unzip/inflate.h"
#include "unzip/system.h"
#include "unzip/zip_archive.h"

namespace zorvex::unzip {

namespace {

// One entry's plan: where it goes and what it is.
struct Item {
  const Entry* entry = nullptr;
  std::string rel;  // below the destination
  int64_t mtime = 0;
  enum class Kind { kDirectory, kFile, kLink } kind = Kind::kFile;
};

// The run over one archive: its bytes, the options and the worst status so far, with a
// lock for the messages and the status, which the unpacking threads share.
class Run {
 public:
  Run(const MappedArchive& archive, const Options& options)
      : data_(archive.data()),
        size_(archive.size()),
        descriptor_(archive.Descriptor()),
        options_(options) {}

  void Note(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = std::max(status_, code);
  }
  void Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    PrintOut(line);
  }
  void Warn(const std::string& line, int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = std::max(status_, code);
    if (options_.quiet < 2 || code > kWarning) PrintErr(line);
  }
  int status() const { return status_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  safetree::SystemFile descriptor() const { return descriptor_; }
  const Options& options() const { return options_; }

 private:
  const uint8_t* data_;
  size_t size_;
  safetree::SystemFile descriptor_;
  const Options& options_;
  std::mutex mutex_;
  int status_ = kOk;
};

class NullSink : public Sink {
 public:
  bool Write(const uint8_t*, size_t) override { return true; }
};

class StringSink : public Sink {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08" PRIx32, value);
  return text;
}

// Reports a failed unpacking of `name`; kOk when there was none.
void ReportData(Run* run, DataResult r, const Entry& e, const std::string& name, uint32_t crc) {
  switch (r) {
    case DataResult::kOk:
      return;
    case DataResult::kBadCrc:
      run->Warn(name + "  bad CRC " + Hex(crc) + "  (should be " + Hex(e.crc) + ")\n",
                kFormatError);
      return;
    case DataResult::kBadData:
      run->Warn("  error:  invalid compressed data to inflate " + name + "\n", kFormatError);
      return;
    case DataResult::kUnsupported:
      run->Warn("   skipping: " + name + "  " +
                    (e.Encrypted() ? std::string("encrypted (not supported)")
                                   : "unsupported compression method " + std::to_string(e.method)) +
                    "\n",
                kUnsupported);
      return;
    case DataResult::kNoMemory:
      run->Warn("error:  not enough memory to unpack " + name + "\n", kNoMemory);
      return;
    case DataResult::kWriteFailed:
      run->Warn("error:  cannot write " + name + " (disk full?)\n", kDiskFull);
      return;
  }
}

// Locates every entry's data; entries whose local header is damaged are dropped with an
// error. False when the archive must be refused as a whole.
bool LocateAll(Run* run, Archive* archive) {
  std::vector<Entry> located;
  for (Entry& e : archive->entries) {
    std::string error;
    if (LocateData(run->data(), run->size(), &e, &error)) {
      // A damaged archive, or one made to show different files to different tools: the
      // central directory's name is the one used, and the archive is not reported sound.
      if (e.local_name_differs) {
        run->Warn("warning:  " + e.name + ":  mismatching \"local\" filename,\n" +
                      "         continuing with \"central\" filename version\n",
                  kWarning);
      }
      located.push_back(std::move(e));
    } else {
      run->Warn("error:  " + error + "\n",
                error.find("past the end") != std::string::npos ? kEndOfArchive : kSevereError);
    }
  }
  archive->entries = std::move(located);
  if (EntriesOverlap(archive->entries)) {
    run->Warn("error:  invalid zip file with overlapped components (possible zip bomb)\n",
              kSevereError);
    return false;
  }
  return true;
}

// Modification times of MS-DOS stamps, each worked out once: the conversion from local
// time reads the system's time zone each time, and the entries of an archive share few
// stamps.
class Times {
 public:
  int64_t Of(const Entry& e) {
    if (e.unix_mtime) return *e.unix_mtime;
    uint32_t stamp = static_cast<uint32_t>(e.dos_date) << 16 | e.dos_time;
    auto it = seen_.find(stamp);
    if (it == seen_.end()) it = seen_.emplace(stamp, ModificationTime(e)).first;
    return it->second;
  }

 private:
  std::map<uint32_t, int64_t> seen_;
};

// How the destination's file system tells names apart: Windows folds letter case.
std::string NameKey(const std::string& rel) { return safetree::NameKey(rel); }

std::vector<std::string> Ancestors(const std::string& rel) {
  std::vector<std::string> out;
  for (size_t cut = rel.find('/'); cut != std::string::npos; cut = rel.find('/', cut + 1)) {
    out.push_back(rel.substr(0, cut));
  }
  return out;
}

// Of two entries that land on one name the later one is kept, as replacing files would
// keep it; both would otherwise be written at once, or a link made last would win. A
// file and a directory of one name (an entry's, or one that a later entry's path needs)
// count as one name too.
void DropEarlierOfOneName(Run* run, std::vector<Item>* items) {
  std::map<std::string, size_t> last_file, last_dir;
  for (size_t i = 0; i < items->size(); ++i) {
    const Item& item = (*items)[i];
    (item.kind == Item::Kind::kDirectory ? last_dir : last_file)[NameKey(item.rel)] = i;
    for (const std::string& dir : Ancestors(item.rel)) last_dir[NameKey(dir)] = i;
  }
  auto later = [](const std::map<std::string, size_t>& last, const std::string& rel, size_t i) {
    auto it = last.find(NameKey(rel));
    return it != last.end() && it->second > i;
  };
  std::vector<Item> kept;
  for (size_t i = 0; i < items->size(); ++i) {
    const Item& item = (*items)[i];
    bool superseded = later(last_file, item.rel, i) ||
                      (item.kind != Item::Kind::kDirectory && later(last_dir, item.rel, i));
    for (const std::string& dir : Ancestors(item.rel)) superseded |= later(last_file, dir, i);
    if (!superseded) {
      kept.push_back(item);
    } else {
      run->Warn("warning:  " + item.entry->name +
                    " appears more than once in the archive: the later entry is kept\n",
                kWarning);
    }
  }
  *items = std::move(kept);
}

// Where each entry goes, with a warning for each name that had to be made safe.
std::vector<Item> Plan(Run* run, const Archive& archive) {
  std::vector<Item> items;
  Times times;
  bool backslashes_told = false;
  for (const Entry& e : archive.entries) {
    // A system call reads a name only up to a NUL byte: the name checked would not be the
    // name made.
    if (e.name.find('\0') != std::string::npos) {
      std::string shown = e.name;
      std::replace(shown.begin(), shown.end(), '\0', '?');
      run->Warn("warning:  skipped " + shown + ": the name holds a NUL byte\n", kWarning);
      continue;
    }
    const bool backslash = e.BackslashesSeparate();
    if (backslash && !BackslashSeparates() && !backslashes_told) {
      run->Warn("warning:  " + e.name + " appears to use backslashes as path separators\n",
                kWarning);
      backslashes_told = true;
    }
    SafePath safe = MakeSafePath(e.name, BackslashSeparates(), backslash);
    if (safe.skipped_parent) {
      run->Warn("warning:  skipped \"../\" path component(s) in " + e.name + "\n", kWarning);
    }
    if (safe.stripped_absolute) {
      run->Warn("warning:  stripped the absolute part of the name " + e.name + "\n", kWarning);
    }
    if (safe.renamed) {
      run->Warn("warning:  " + e.name + " is written as " + JoinComponents(safe.components) +
                    ": Windows cannot hold the name as it is, or reads it as another\n",
                kWarning);
    }
    if (safe.components.empty()) {
      if (!e.IsDirectory()) run->Warn("warning:  skipped " + e.name + ": no name left\n", kWarning);
      continue;
    }
    Item item;
    item.entry = &e;
    item.rel = JoinComponents(safe.components);
    item.mtime = times.Of(e);
    item.kind = e.IsDirectory() ? Item::Kind::kDirectory
                : e.IsSymlink() ? Item::Kind::kLink
                                : Item::Kind::kFile;
    items.push_back(item);
  }
  DropEarlierOfOneName(run, &items);
  return items;
}

std::string ParentOf(const std::string& rel) {
  size_t cut = rel.find_last_of('/');
  return cut == std::string::npos ? "" : rel.substr(0, cut);
}

bool Below(const std::string& rel, const std::string& dir) {
  return rel.size() > dir.size() && rel.compare(0, dir.size(), dir) == 0 && rel[dir.size()] == '/';
}

// Makes every directory the items need, each once, parents first. Items below a
// directory that cannot be made (a link or a file stands there) are dropped.
void MakeDirectories(Run* run, safetree::Tree* out, std::vector<Item>* items) {
  std::set<std::string> needed;
  for (const Item& item : *items) {
    needed.insert(item.kind == Item::Kind::kDirectory ? item.rel : ParentOf(item.rel));
  }
  needed.erase("");
  std::vector<std::string> failed;
  for (const std::string& dir : needed) {
    bool under_failed = std::any_of(failed.begin(), failed.end(), [&](const std::string& f) {
      return dir == f || Below(dir, f);
    });
    std::string error;
    if (under_failed) continue;
    if (!out->MakeDirectory(dir, &error)) {
      run->Warn("error:  " + error + "; nothing is unpacked below it\n", kWarning);
      failed.push_back(dir);
    }
  }
  std::erase_if(*items, [&](const Item& item) {
    return std::any_of(failed.begin(), failed.end(),
                       [&](const std::string& f) { return item.rel == f || Below(item.rel, f); });
  });
}

// Of an archive's modes only one is taken: whether the entry's owner may run it.
bool Executable(const Entry& e) { return e.HasUnixMode() && (e.UnixMode() & 0100) != 0; }

void UnpackFile(Run* run, safetree::Tree* out, const Item& item) {
  const Entry& e = *item.entry;
  const std::string shown = out->DisplayPath(item.rel);
  std::string error;
  std::unique_ptr<safetree::TreeFile> file = out->NewFile(item.rel, Executable(e), &error);
  if (!file) {
    run->Warn("error:  " + error + "\n", kFormatError);
    return;
  }
  uint32_t crc = 0;
  DataResult r = UnpackData(run->data(), e, file.get(), &crc, run->descriptor());
  if (r == DataResult::kWriteFailed && !file->DiskFull()) {
    // Not the archive's fault: the system's reason, not "invalid compressed data".
    run->Warn("error:  cannot write " + shown + ": " + file->WriteError() + "\n", kFormatError);
    return;
  }
  if (r != DataResult::kOk) {
    ReportData(run, r, e, shown, crc);
    return;
  }
  bool exists = false;
  if (!file->Commit(item.mtime, run->options().overwrite, &exists, &error)) {
    if (exists) {
      run->Warn("   skipping: " + shown + "  (exists; -o replaces it)\n", kWarning);
    } else {
      run->Warn("error:  cannot write " + shown + ": " + error + "\n",
                file->DiskFull() ? kDiskFull : kFormatError);
    }
    return;
  }
  if (run->options().quiet == 0) {
    run->Say((e.method == 0 ? " extracting: " : "  inflating: ") + shown + "\n");
  }
}

// Unpacks the files on every processor: largest first, so that the longest one starts at
// once and the small ones fill in beside it.
void UnpackFiles(Run* run, safetree::Tree* out, const std::vector<Item>& items) {
  std::vector<const Item*> files;
  for (const Item& item : items) {
    if (item.kind == Item::Kind::kFile) files.push_back(&item);
  }
  std::stable_sort(files.begin(), files.end(), [](const Item* a, const Item* b) {
    return a->entry->uncompressed_size > b->entry->uncompressed_size;
  });
  unsigned threads = run->options().threads != 0
                         ? run->options().threads
                         : std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<size_t>(threads, files.size()));
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < files.size(); i = next++) UnpackFile(run, out, *files[i]);
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
}

// Links come last, so that no file of the archive is written through one. A link whose
// target would lead out of the destination is not made.
void MakeLinks(Run* run, safetree::Tree* out, const std::vector<Item>& items) {
  for (const Item& item : items) {
    if (item.kind != Item::Kind::kLink) continue;
    const Entry& e = *item.entry;
    const std::string shown = out->DisplayPath(item.rel);
    StringSink target;
    uint32_t crc = 0;
    DataResult r = UnpackData(run->data(), e, &target, &crc);
    if (r != DataResult::kOk) {
      ReportData(run, r, e, shown, crc);
      continue;
    }
    if (target.bytes.find('\0') != std::string::npos) {
      run->Warn("warning:  skipped the link " + shown + ": its target holds a NUL byte\n",
                kWarning);
      continue;
    }
    SafePath where = MakeSafePath(item.rel, false);
    if (MakesLinks() && !LinkStaysInside(where.components, target.bytes)) {
      run->Warn("warning:  skipped the link " + shown + " -> " + target.bytes +
                    ": it leads out of the destination\n",
                kWarning);
      continue;
    }
    bool exists = false;
    std::string error;
    if (!out->MakeLink(item.rel, target.bytes, run->options().overwrite, &exists, &error)) {
      run->Warn(exists ? "   skipping: " + shown + "  (exists; -o replaces it)\n"
                       : "error:  " + error + "\n",
                exists ? kWarning : kFormatError);
      continue;
    }
    if (run->options().quiet == 0)
      run->Say("    linking: " + shown + "  -> " + target.bytes + "\n");
  }
}

// Directory times come last: writing into a directory changes its time.
void SetDirectoryTimes(safetree::Tree* out, const std::vector<Item>& items) {
  std::vector<const Item*> dirs;
  for (const Item& item : items) {
    if (item.kind == Item::Kind::kDirectory) dirs.push_back(&item);
  }
  std::sort(dirs.begin(), dirs.end(), [](const Item* a, const Item* b) { return a->rel > b->rel; });
  for (const Item* d : dirs) {
    out->SetDirectoryTime(d->rel, d->mtime);
  }
}

// What the entries declare must fit in the free space before anything is written: an
// archive of a few megabytes may declare gigabytes of zeros. No entry is written beyond
// its declared size, so the sum bounds what unpacking can write.
bool FitsOnDisk(Run* run, safetree::Tree* out, const std::vector<Item>& items) {
  uint64_t needed = 0;
  for (const Item& item : items) {
    if (item.kind != Item::Kind::kDirectory) needed += item.entry->uncompressed_size;
  }
  uint64_t free_bytes = 0;
  if (!out->FreeBytes(&free_bytes) || needed <= free_bytes) return true;
  run->Warn("error:  the archive's files need " + std::to_string(needed) + " bytes, but " +
                out->DisplayPath("").substr(0, out->DisplayPath("").size() - 1) + " has " +
                std::to_string(free_bytes) + " bytes free: nothing is unpacked\n",
            kDiskFull);
  return false;
}

void Extract(Run* run, const Archive& archive) {
  std::string error;
  std::unique_ptr<safetree::Tree> out =
      safetree::OpenTree(run->options().destination, true, &error);
  if (!out) {
    run->Warn("error:  " + error + "\n", kSevereError);
    return;
  }
  std::vector<Item> items = Plan(run, archive);
  if (!FitsOnDisk(run, out.get(), items)) return;
  MakeDirectories(run, out.get(), &items);
  if (run->options().quiet == 0) {
    for (const Item& item : items) {
      if (item.kind == Item::Kind::kDirectory)
        run->Say("   creating: " + out->DisplayPath(item.rel) + "/\n");
    }
  }
  UnpackFiles(run, out.get(), items);
  MakeLinks(run, out.get(), items);
  SetDirectoryTimes(out.get(), items);
}

void List(Run* run, const Archive& archive) {
  std::string text = "  Length      Date    Time    Name\n---------  ---------- -----   ----\n";
  uint64_t total = 0;
  char line[64];
  for (const Entry& e : archive.entries) {
    std::snprintf(line, sizeof line, "%9" PRIu64 "  ", e.uncompressed_size);
    text += line + FormatLocalTime(ModificationTime(e)) + "   " + e.name + "\n";
    total += e.uncompressed_size;
  }
  std::snprintf(line, sizeof line, "%9" PRIu64, total);
  text += "---------                     -------\n" + std::string(line) + "                     " +
          std::to_string(archive.entries.size()) +
          (archive.entries.size() == 1 ? " file\n" : " files\n");
  run->Say(text);
}

void Test(Run* run, const Archive& archive, const std::string& path) {
  for (const Entry& e : archive.entries) {
    if (e.IsDirectory()) continue;
    NullSink sink;
    uint32_t crc = 0;
    DataResult r = UnpackData(run->data(), e, &sink, &crc);
    if (r == DataResult::kOk) {
      if (run->options().quiet == 0) run->Say("    testing: " + e.name + "   OK\n");
    } else {
      ReportData(run, r, e, e.name, crc);
    }
  }
  if (run->status() == kOk) {
    if (run->options().quiet < 2)
      run->Say("No errors detected in compressed data of " + path + ".\n");
  } else {
    run->Say("At least one error was detected in " + path + ".\n");
  }
}

}  // namespace

int ProcessArchive(const std::string& path, const Options& options) {
  std::string error;
  std::unique_ptr<MappedArchive> mapped = MapArchive(path, &error);
  if (!mapped) {
    PrintErr("unzip:  cannot find or open " + path + " (" + error + ").\n");
    return kNotFound;
  }
  return ProcessArchiveData(path, *mapped, options);
}

int ProcessArchiveData(const std::string& path, const MappedArchive& mapped,
                       const Options& options) {
  std::string error;
  Run run(mapped, options);
  if (options.quiet == 0 || options.mode == Options::Mode::kList)
    run.Say("Archive:  " + path + "\n");
  Archive archive;
  int code = kOk;
  if (!ReadCentralDirectory(run.data(), run.size(), &archive, &error, &code)) {
    run.Warn("[" + path + "]\n  " + error + "\n", code);
    return run.status();
  }
  if (archive.prefix_bytes > 0) {
    run.Warn("warning [" + path + "]:  " + std::to_string(archive.prefix_bytes) +
                 " extra bytes at beginning or within zipfile\n  (attempting to process anyway)\n",
             kWarning);
  }
  if (options.mode == Options::Mode::kList) {
    List(&run, archive);
    return run.status();
  }
  if (!LocateAll(&run, &archive)) return run.status();
  if (options.mode == Options::Mode::kTest) {
    Test(&run, archive, path);
  } else {
    Extract(&run, archive);
  }
  return run.status();
}

}  // namespace zorvex::unzip
