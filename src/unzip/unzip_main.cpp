// The medium's unzip: unpacks the jar archives of a component the way the launcher runs
// it (unzip -qqqo DIR/"*.jar" -d DEST), and serves as a small unzip of its own.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "manifest/manifest.h"
#include "safetree/tree.h"
#include "unzip/extract.h"
#include "unzip/inflate.h"
#include "unzip/system.h"
#include "unzip/zip_archive.h"

namespace zorvex::unzip {

namespace {

constexpr char kUsage[] =
    "Usage: unzip [-l | -t] [-o] [-q[q[q]]] ARCHIVE [-d DIR]\n"
    "  Unpacks ARCHIVE into DIR (default: the current directory). ARCHIVE may be a\n"
    "  wildcard (\"*\", \"?\", \"[...]\" in its last part): every match is unpacked, in\n"
    "  name order.\n"
    "  -l  list the entries        -t  test every entry's data\n"
    "  -o  replace existing files  -q  quieter (-qq, -qqq quieter still)\n"
    "  -d DIR  unpack into DIR, made when missing\n"
    "  -h  this help\n"
    "  --sha256 NAME:SIZE:SHA256  (repeatable) every archive must be one of these, as\n"
    "      listed: each is read and checked before anything is unpacked (status 12 if not)\n"
    "  --chunks NAME:SHA256,...  (repeatable) the SHA-256 of each 4 MiB piece of a listed\n"
    "      archive, checked on two threads instead of the whole digest\n";

// An archive as a medium's manifest lists it.
struct Listed {
  std::string name;
  uint64_t size = 0;
  manifest::Sha256Digest sha256 = {};
  std::vector<manifest::Sha256Digest> chunks;  // of each manifest::kChunkBytes, when given
};

struct CommandLine {
  Options options;
  std::vector<std::string> archives;
  std::vector<Listed> listed;
  std::map<std::string, std::vector<manifest::Sha256Digest>> chunks;  // by archive name
  bool help = false;
};

// "NAME:SHA256,SHA256,...".
bool ParseChunks(const std::string& text, CommandLine* cl) {
  const size_t colon = text.rfind(':');
  return colon != std::string::npos && colon > 0 &&
         manifest::ParseDigestList(text.substr(colon + 1), &cl->chunks[text.substr(0, colon)]);
}

bool ParseListed(const std::string& text, Listed* listed) {
  size_t last = text.rfind(':');
  size_t middle =
      last == std::string::npos || last == 0 ? std::string::npos : text.rfind(':', last - 1);
  if (middle == std::string::npos || middle == 0) return false;
  listed->name = text.substr(0, middle);
  const std::string size = text.substr(middle + 1, last - middle - 1);
  if (size.empty() || size.size() > 19 || size.find_first_not_of("0123456789") != std::string::npos)
    return false;
  listed->size = std::stoull(size);
  return manifest::FromHex(text.substr(last + 1), &listed->sha256);
}

// Options may be grouped ("-qqqo") and come before or after the archive. False for an
// option the program does not know.
bool Parse(const std::vector<std::string>& args, CommandLine* cl, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--chunks") {
      if (i + 1 >= args.size() || !ParseChunks(args[++i], cl)) {
        *error = "--chunks needs NAME:SHA256,...";
        return false;
      }
      continue;
    }
    if (arg == "--sha256") {
      Listed listed;
      if (i + 1 >= args.size() || !ParseListed(args[++i], &listed)) {
        *error = "--sha256 needs NAME:SIZE:SHA256";
        return false;
      }
      cl->listed.push_back(listed);
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      cl->archives.push_back(arg);
      continue;
    }
    for (size_t j = 1; j < arg.size(); ++j) {
      switch (arg[j]) {
        case 'q':
          ++cl->options.quiet;
          break;
        case 'o':
          cl->options.overwrite = true;
          break;
        case 'l':
          cl->options.mode = Options::Mode::kList;
          break;
        case 't':
          cl->options.mode = Options::Mode::kTest;
          break;
        case 'h':
          cl->help = true;
          break;
        case 'd':
          if (j + 1 < arg.size()) {
            cl->options.destination = arg.substr(j + 1);
          } else if (i + 1 < args.size()) {
            cl->options.destination = args[++i];
          } else {
            *error = "-d needs a directory";
            return false;
          }
          j = arg.size();
          break;
        default:
          *error = std::string("unknown option -") + arg[j];
          return false;
      }
    }
  }
  return true;
}

// How the archive's bytes differ from what the manifest lists, or empty when they do not:
// its whole digest, hashed on one thread, or each piece's, hashed on two (the caller
// unpacks the same bytes meanwhile).
std::string WhatDiffers(const uint8_t* data, uint64_t size, const Listed& listed) {
  if (listed.chunks.empty()) {
    const manifest::Sha256Digest digest = manifest::Sha256Of(data, size);
    return digest == listed.sha256 ? ""
                                   : "SHA-256 " + manifest::ToHex(digest) + ", where it lists " +
                                         manifest::ToHex(listed.sha256);
  }
  const size_t count = listed.chunks.size();
  std::vector<manifest::Sha256Digest> got(count);
  auto hash = [&](size_t first) {
    for (size_t i = first; i < count; i += 2) {
      const uint64_t from = i * manifest::kChunkBytes;
      got[i] = manifest::Sha256Of(data + from, std::min(manifest::kChunkBytes, size - from));
    }
  };
  std::thread other(hash, 1);
  hash(0);
  other.join();
  for (size_t i = 0; i < count; ++i) {
    if (got[i] == listed.chunks[i]) continue;
    const uint64_t from = i * manifest::kChunkBytes;
    const uint64_t to = std::min(from + manifest::kChunkBytes, size);
    return "piece " + std::to_string(i + 1) + " of " + std::to_string(count) + ", bytes " +
           std::to_string(from) + " to " + std::to_string(to - 1) + ": SHA-256 " +
           manifest::ToHex(got[i]) + ", where it lists " + manifest::ToHex(listed.chunks[i]);
  }
  return "";
}

// The launcher's way for a verified medium: the archives the wildcard finds must be
// exactly those listed. Each is read into the program's own memory and unpacked from
// there while another thread hashes the same bytes, so that checking costs little time:
// what is unpacked is exactly what is hashed, and an archive whose hash or size is not as
// listed ends the run with status 12. What was unpacked of it is then not the medium's,
// and the caller (the launcher) removes it before anything of it is used.
int ProcessListed(const std::vector<std::string>& paths, const CommandLine& cl) {
  std::map<std::string, const Listed*> by_name;
  for (const Listed& l : cl.listed) by_name[safetree::NameKey(l.name)] = &l;
  std::vector<const Listed*> matched;
  for (const std::string& path : paths) {
    const std::string leaf = path.substr(path.find_last_of(BackslashSeparates() ? "/\\" : "/") + 1);
    auto found = by_name.find(safetree::NameKey(leaf));
    if (found == by_name.end()) {
      PrintErr("unzip:  " + path +
               " is not listed in the medium's manifest: nothing is unpacked.\n");
      return kNotTheMediums;
    }
    matched.push_back(found->second);
    by_name.erase(found);
  }
  if (!by_name.empty()) {
    PrintErr("unzip:  " + by_name.begin()->second->name +
             ", which the medium's manifest lists, is missing: nothing is unpacked.\n");
    return kNotTheMediums;
  }
  int status = kOk;
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    const Listed& listed = *matched[i];
    std::string error;
    // Mapped where the system keeps writers away meanwhile, else read into own memory.
    std::unique_ptr<MappedArchive> archive = MapUnchangeableArchive(path);
    if (!archive) archive = ReadArchive(path, &error);
    if (!archive) {
      PrintErr("unzip:  cannot find or open " + path + " (" + error + ").\n");
      return kNotTheMediums;
    }
    if (archive->size() != listed.size) {
      PrintErr("unzip:  " + path + " is not the archive the medium's manifest lists (" +
               std::to_string(archive->size()) + " bytes, where it lists " +
               std::to_string(listed.size) + "): nothing is unpacked.\n");
      return kNotTheMediums;
    }
    if (!listed.chunks.empty() && listed.chunks.size() != manifest::ChunkCount(listed.size)) {
      PrintErr("unzip:  the piece digests given for " + listed.name + " (" +
               std::to_string(listed.chunks.size()) + ") do not fit its " +
               std::to_string(listed.size) + " bytes: nothing is unpacked.\n");
      return kNotTheMediums;
    }
    std::string differs;
    std::thread hashing([&] { differs = WhatDiffers(archive->data(), archive->size(), listed); });
    int code = ProcessArchiveData(path, *archive, cl.options);
    hashing.join();
    if (!archive->Unchanged()) {
      PrintErr("unzip:  " + path +
               " was opened for writing while it was unpacked: what was unpacked of it is not "
               "to be used.\n");
      return kNotTheMediums;
    }
    if (!differs.empty()) {
      PrintErr("unzip:  " + path + " is not the archive the medium's manifest lists (" + differs +
               "): what was unpacked of it is not to be used.\n");
      return kNotTheMediums;
    }
    if (code > status) status = code;
  }
  return status;
}

}  // namespace

int Main(const std::vector<std::string>& args) {
  CommandLine cl;
  std::string error;
  if (!Parse(args, &cl, &error)) {
    PrintErr("unzip:  " + error + "\n" + kUsage);
    return kBadOptions;
  }
  for (Listed& l : cl.listed) {
    auto chunks = cl.chunks.find(l.name);
    if (chunks == cl.chunks.end()) continue;
    l.chunks = std::move(chunks->second);
    cl.chunks.erase(chunks);
  }
  if (!cl.chunks.empty()) {
    PrintErr("unzip:  --chunks names " + cl.chunks.begin()->first + ", which no --sha256 lists\n" +
             kUsage);
    return kBadOptions;
  }
  if (cl.help || cl.archives.empty()) {
    PrintOut(std::string("unzip (Zorvex Meridal medium tools, ") + InflaterName() + ")\n" + kUsage);
    return kOk;
  }
  if (cl.archives.size() > 1) {
    PrintErr(
        "unzip:  one archive (or one wildcard) at a time; choosing members is not supported\n");
    return kBadOptions;
  }
  std::vector<std::string> paths;
  if (!ExpandArchivePattern(cl.archives[0], &paths, &error)) {
    PrintErr("unzip:  cannot list the archives " + cl.archives[0] + " names: " + error + ".\n");
    return kNotFound;
  }
  if (!cl.listed.empty()) return ProcessListed(paths, cl);
  if (paths.empty()) {
    PrintErr("unzip:  cannot find or open " + cl.archives[0] + ".\n");
    return kNotFound;
  }
  int status = kOk;
  for (const std::string& path : paths) {
    int code = ProcessArchive(path, cl.options);
    if (code > status) status = code;
  }
  return status;
}

}  // namespace zorvex::unzip
