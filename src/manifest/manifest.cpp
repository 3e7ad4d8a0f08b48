#include "manifest/manifest.h"

#include <fstream>
#include <memory>
#include <vector>

namespace zorvex::manifest {

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// A path as the builder writes them: relative, "/"-separated, no empty, "." or inner ".."
// component, ".." only as a leading run.
bool IsManifestPath(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.back() == '/') return false;
  bool leading = true;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    std::string part = path.substr(start, slash - start);
    if (part.empty() || part == ".") return false;
    if (part == "..") {
      if (!leading) return false;
    } else {
      leading = false;
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return !leading;
}

bool HasControl(const std::string& s) { return s.find_first_of("\t\r\n", 0) != std::string::npos; }

}  // namespace

std::string ToHex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

bool FromHex(const std::string& text, Sha256Digest* digest) {
  if (text.size() != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    uint8_t b = 0;
    for (char c : {text[2 * i], text[2 * i + 1]}) {
      if (!IsHex(c)) return false;
      b = static_cast<uint8_t>(b * 16 + (c <= '9' ? c - '0' : c - 'a' + 10));
    }
    (*digest)[i] = b;
  }
  return true;
}

Sha256Digest Sha256Of(const void* data, size_t size) {
  Sha256 hash;
  hash.Update(data, size);
  return hash.Final();
}

std::string FormatDigestList(const std::vector<Sha256Digest>& digests) {
  std::string text;
  for (const Sha256Digest& d : digests) text += (text.empty() ? "" : ",") + ToHex(d);
  return text;
}

bool ParseDigestList(const std::string& text, std::vector<Sha256Digest>* digests) {
  digests->clear();
  for (size_t at = 0; at <= text.size(); at += 65) {
    Sha256Digest d;
    if (!FromHex(text.substr(at, 64), &d)) return false;
    digests->push_back(d);
    if (at + 64 < text.size() && text[at + 64] != ',') return false;
  }
  return true;
}

bool HashFile(const std::filesystem::path& path, uint64_t* size, Sha256Digest* digest,
              std::vector<Sha256Digest>* chunks) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  Sha256 hash, piece;
  // Left uninitialised: a medium's many small files do not each pay for clearing 1 MiB.
  constexpr size_t kRead = 1 << 20;
  static_assert(kChunkBytes % kRead == 0);
  const auto buffer = std::make_unique_for_overwrite<char[]>(kRead);
  *size = 0;
  if (chunks != nullptr) chunks->clear();
  while (in) {
    in.read(buffer.get(), static_cast<std::streamsize>(kRead));
    size_t n = static_cast<size_t>(in.gcount());
    hash.Update(buffer.get(), n);
    if (chunks != nullptr && n > 0) {
      piece.Update(buffer.get(), n);
      if ((*size + n) % kChunkBytes == 0) chunks->push_back(piece.Final());
    }
    *size += n;
  }
  *digest = hash.Final();
  if (chunks != nullptr && *size % kChunkBytes != 0) chunks->push_back(piece.Final());
  return in.eof();
}

namespace {

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 19 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// "<offset>:<sha256 hex>" of an archive's central directory.
bool ParseDirectory(const std::string& field, Entry* e) {
  const size_t colon = field.find(':');
  if (colon == std::string::npos || !IsNumber(field.substr(0, colon))) return false;
  e->directory_offset = std::stoull(field.substr(0, colon));
  return FromHex(field.substr(colon + 1), &e->directory_sha256);
}

}  // namespace

std::string Format(const Manifest& manifest) {
  std::string text = std::string(kManifestHeader) + "\n";
  for (const auto& [path, e] : manifest) {
    if (e.link) {
      text += "link\t" + e.target + "\t" + path + "\n";
    } else {
      text += ToHex(e.sha256) + "\t" + std::to_string(e.size) + "\t" + path;
      if (e.directory_offset) {
        text += "\t" + std::to_string(*e.directory_offset) + ":" + ToHex(e.directory_sha256);
      }
      if (!e.chunks.empty()) text += "\tchunks=" + FormatDigestList(e.chunks);
      text += "\n";
    }
  }
  return text;
}

bool Parse(const std::string& text, Manifest* manifest, std::string* error) {
  manifest->clear();
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      *error = "the manifest's last line is cut short";
      return false;
    }
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    const std::string where = "line " + std::to_string(number) + " of the manifest";
    if (number == 1) {
      if (line != kManifestHeader) {
        *error = where + " is not \"" + kManifestHeader + "\"";
        return false;
      }
      continue;
    }
    std::vector<std::string> f = SplitTabs(line);
    Entry e;
    bool ok = (f.size() == 3 || (f.size() <= 5 && f[0] != "link")) && IsManifestPath(f[2]) &&
              f[2].find('\r') == std::string::npos;
    // The optional fields: the central directory, then the piece digests, each once.
    for (size_t i = 3; ok && i < f.size(); ++i) {
      const bool chunks = f[i].rfind("chunks=", 0) == 0;
      ok = chunks ? e.chunks.empty() && ParseDigestList(f[i].substr(7), &e.chunks)
                  : i == 3 && !e.directory_offset && ParseDirectory(f[i], &e);
    }
    if (ok && f[0] == "link") {
      e.link = true;
      e.target = f[1];
      ok = !e.target.empty() && !HasControl(e.target);
    } else if (ok) {
      const std::string& size = f[1];
      ok = FromHex(f[0], &e.sha256) && !size.empty() && size.size() <= 19 &&
           size.find_first_not_of("0123456789") == std::string::npos;
      if (ok) e.size = std::stoull(size);
      if (ok && e.directory_offset) ok = *e.directory_offset <= e.size;
      if (ok && !e.chunks.empty()) ok = e.chunks.size() == ChunkCount(e.size);
    }
    if (!ok) {
      *error = where +
               " is no \"SHA-256 TAB size TAB path [TAB offset:SHA-256] [TAB chunks=SHA-256,...]\" "
               "or \"link TAB target "
               "TAB path\"";
      return false;
    }
    if (!manifest->emplace(f[2], e).second) {
      *error = where + " lists " + f[2] + " a second time";
      return false;
    }
  }
  if (number == 0) {
    *error = "the manifest is empty";
    return false;
  }
  return true;
}

}  // namespace zorvex::manifest
