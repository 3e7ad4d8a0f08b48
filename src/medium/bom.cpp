#include "medium/bom.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>

#include "manifest/manifest.h"
#include "manifest/sha256.h"
#include "medium/manifest_tool.h"
#include "medium/report.h"

namespace zorvex::medium {

namespace fs = std::filesystem;

namespace {

#ifndef ZORVEX_TOOL_VERSION
#define ZORVEX_TOOL_VERSION "0"
#endif

// A value of the runtime's release file (KEY="value"), "" when absent.
std::string ReleaseValue(const std::string& release, const std::string& key) {
  std::istringstream in(release);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value = line.substr(key.size() + 1);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return "";
}

}  // namespace

bool Sha256OfFile(const fs::path& file, std::string* hex, std::string* error) {
  uint64_t size = 0;
  manifest::Sha256Digest digest;
  errno = 0;
  if (!manifest::HashFile(file, &size, &digest)) {
    *error = "cannot read " + manifest::Utf8Of(file) + SystemReason();
    return false;
  }
  *hex = manifest::ToHex(digest);
  return true;
}

namespace {

// The entries of `dir` (only the jars, with `jars`), sorted; a directory that is not there
// has none. False with *error naming it when it cannot be read whole.
bool EntriesOf(const fs::path& dir, bool jars, std::vector<fs::path>* entries,
               std::string* error) {
  entries->clear();
  std::error_code ec;
  if (!fs::exists(dir, ec)) {
    if (!ec) return true;
  } else {
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (!jars) {
        entries->push_back(it->path());
      } else if (it->path().extension() == ".jar") {
        const bool regular = it->is_regular_file(ec);
        if (regular) entries->push_back(it->path());
      }
    }
  }
  if (ec) {
    *error = "cannot list " + manifest::Utf8Of(dir) + ": " + ec.message();
    return false;
  }
  std::sort(entries->begin(), entries->end());
  return true;
}

std::string Component(const std::string& type, const std::string& ref, const std::string& name,
                      const std::string& version, const std::string& sha256,
                      const std::vector<std::pair<std::string, std::string>>& properties,
                      const std::string& extra = "", const std::string& nested = "") {
  std::string json = "{\"type\":" + JsonString(type) + ",\"bom-ref\":" + JsonString(ref) +
                     ",\"name\":" + JsonString(name);
  if (!version.empty()) json += ",\"version\":" + JsonString(version);
  json += extra;
  if (!sha256.empty()) json += ",\"hashes\":[{\"alg\":\"SHA-256\",\"content\":" + JsonString(sha256) + "}]";
  if (!properties.empty()) {
    json += ",\"properties\":[";
    for (size_t i = 0; i < properties.size(); ++i) {
      json += (i ? "," : "") + std::string("{\"name\":") + JsonString(properties[i].first) +
              ",\"value\":" + JsonString(properties[i].second) + "}";
    }
    json += "]";
  }
  if (!nested.empty()) json += ",\"components\":[" + nested + "]";
  return json + "}";
}

}  // namespace

bool BomFilesOf(const fs::path& disk, bool windows, std::vector<BomFile>* files,
                std::string* error) {
  files->clear();
  const std::string unzip = windows ? "unzip.exe" : "unzip";
  BomFile u{unzip, "application", "unzip", ZORVEX_TOOL_VERSION, "", "", {}};
  if (!Sha256OfFile(disk / unzip, &u.sha256, error)) return false;
  files->push_back(u);
  std::vector<fs::path> names, versions, jars;
  if (!EntriesOf(disk / ".." / "stage" / "Components", false, &names, error)) return false;
  for (const fs::path& name : names) {
    if (!EntriesOf(name, false, &versions, error)) return false;
    for (const fs::path& version : versions) {
      if (!EntriesOf(version / "1" / "DataFiles", true, &jars, error)) return false;
      for (const fs::path& jar : jars) {
        BomFile f{"../stage/Components/" + manifest::Utf8Of(name.filename()) + "/" +
                      manifest::Utf8Of(version.filename()) + "/1/DataFiles/" +
                      manifest::Utf8Of(jar.filename()),
                  "library", manifest::Utf8Of(jar.filename()),
                  manifest::Utf8Of(version.filename()), manifest::Utf8Of(name.filename()), "", {}};
        if (!Sha256OfFile(jar, &f.sha256, error)) return false;
        files->push_back(f);
      }
    }
  }
  if (!EntriesOf(disk / "jlib", true, &jars, error)) return false;
  for (const fs::path& jar : jars) {
    BomFile f{"jlib/" + manifest::Utf8Of(jar.filename()), "library",
              manifest::Utf8Of(jar.filename()), "", "", "", {}};
    if (!Sha256OfFile(jar, &f.sha256, error)) return false;
    files->push_back(f);
  }
  return true;
}

namespace {

// The document around its body, with a serial number of the body's own, so that the same
// medium gets the same document.
std::string WithSerial(const std::string& body) {
  const std::string h = manifest::ToHex(manifest::Sha256Of(body));
  const std::string serial = h.substr(0, 8) + "-" + h.substr(8, 4) + "-5" + h.substr(13, 3) +
                             "-" + std::string(1, "89ab"[h[16] % 4]) + h.substr(17, 3) + "-" +
                             h.substr(20, 12);
  return "{\n  \"bomFormat\": \"CycloneDX\",\n  \"specVersion\": \"1.5\",\n"
         "  \"serialNumber\": \"urn:uuid:" +
         serial + "\",\n  \"version\": 1,\n" + body;
}

}  // namespace

std::string BillOfMaterials(const BomInputs& in) {
  std::vector<std::string> components;
  components.push_back(Component(
      "application", "zorvex:launcher", in.launcher, ZORVEX_TOOL_VERSION, "",
      {{"zorvex:path", in.launcher},
       {"zorvex:vouches-for", "zormanifest.txt: its SHA-256 is bound into the launcher, and it "
                              "lists every other file of the medium with its SHA-256"}}));
  if (!in.runtime_release.empty()) {
    const std::string implementor = ReleaseValue(in.runtime_release, "IMPLEMENTOR");
    components.push_back(Component(
        "platform", "zorvex:runtime", "Java runtime",
        ReleaseValue(in.runtime_release, "JAVA_VERSION"), "",
        {{"zorvex:modules", ReleaseValue(in.runtime_release, "MODULES")},
         {"zorvex:component", "zorvex.swd.jre"}},
        implementor.empty() ? "" : ",\"publisher\":" + JsonString(implementor)));
  }
  for (const BomFile& f : in.files) {
    std::vector<std::pair<std::string, std::string>> properties = {{"zorvex:path", f.path}};
    if (!f.component.empty()) properties.push_back({"zorvex:component", f.component});
    const std::string version = f.version.empty() ? in.medium_version : f.version;
    std::string nested;
    for (const auto& [name, sha256] : f.contains) {
      nested += (nested.empty() ? "" : ",") +
                Component("library", "zorvex:" + f.path + "!/" + name, name, version, sha256, {});
    }
    components.push_back(Component(f.type, "zorvex:" + f.path, f.name, version, f.sha256,
                                   properties, "", nested));
  }
  std::string body = "  \"metadata\": {\"tools\":{\"components\":[" +
                     Component("application", "zorvex:tool", "zorvex-medium", ZORVEX_TOOL_VERSION,
                               "", {}) +
                     "]},\"component\":" +
                     Component("application", "zorvex:medium", "installation medium",
                               in.medium_version, "", {}) +
                     "},\n  \"components\": [\n";
  for (size_t i = 0; i < components.size(); ++i) {
    body += "    " + components[i] + (i + 1 < components.size() ? ",\n" : "\n");
  }
  body += "  ]\n}\n";
  return WithSerial(body);
}

bool RehashInBillOfMaterials(const fs::path& disk, const std::string& path,
                             const std::string& sha256, std::string* error) {
  const fs::path file = disk / kBomName;
  std::string text;
  if (!ReadWholeFile(file, &text, error)) return false;
  const std::string named = "\"name\":\"zorvex:path\",\"value\":" + JsonString(path);
  const size_t at = text.find(named);
  const size_t line = at == std::string::npos ? at : text.rfind('\n', at);
  const std::string label = "\"alg\":\"SHA-256\",\"content\":\"";
  const size_t hash = line == std::string::npos ? line : text.find(label, line);
  const size_t body = text.find("  \"metadata\"");
  if (hash == std::string::npos || hash > at || body == std::string::npos) {
    *error = manifest::Utf8Of(file) + " names no " + path + " with a SHA-256";
    return false;
  }
  std::string changed = text;
  changed.replace(hash + label.size(), 64, sha256);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << WithSerial(changed.substr(body));
  out.close();
  if (!out) *error = "cannot write " + manifest::Utf8Of(file);
  return static_cast<bool>(out);
}

namespace {

// The JSON string text (escapes kept as written) after the first `lead` in the line, up to
// its closing quote. False when the line holds no such string.
bool QuotedAfter(const std::string& line, const std::string& lead, std::string* text) {
  const size_t at = line.find(lead);
  if (at == std::string::npos) return false;
  for (size_t i = at + lead.size(); i < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
    } else if (line[i] == '"') {
      *text = line.substr(at + lead.size(), i - at - lead.size());
      return true;
    }
  }
  return false;
}

bool IsSha256Hex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

void CheckBillOfMaterials(const fs::path& disk, bool windows, Report* r) {
  std::error_code ec;
  if (!fs::exists(disk / kBomName, ec) && !ec) {
    r->Info("Bill of materials", std::string("No ") + kBomName +
                                     ": the medium names its parts nowhere (built by an older "
                                     "zorvex-medium).");
    return;
  }
  std::string text, error;
  if (!ReadWholeFile(disk / kBomName, &text, &error)) {
    r->Error("Bill of materials", error + ".");
    return;
  }
  std::istringstream in(text);
  std::map<std::string, std::string> listed;  // path: SHA-256
  for (std::string line; std::getline(in, line);) {
    std::string path, hash;
    if (QuotedAfter(line, R"("name":"zorvex:path","value":")", &path) &&
        QuotedAfter(line, R"("alg":"SHA-256","content":")", &hash) && IsSha256Hex(hash)) {
      listed[path] = hash;
    }
  }
  std::vector<BomFile> files;
  if (!BomFilesOf(disk, windows, &files, &error)) {
    r->Error("Bill of materials", error + ".");
    return;
  }
  size_t differences = 0;
  for (const BomFile& f : files) {
    auto it = listed.find(f.path);
    if (it == listed.end()) {
      r->Error("Bill of materials", std::string(kBomName) + " does not name " + f.path + ".");
      ++differences;
    } else if (it->second != f.sha256) {
      r->Error("Bill of materials", std::string(kBomName) + " names " + f.path + " with SHA-256 " +
                                        it->second + ", where the medium holds " + f.sha256 + ".");
      ++differences;
    }
    if (it != listed.end()) listed.erase(it);
  }
  for (const auto& [path, sha256] : listed) {
    r->Error("Bill of materials",
             std::string(kBomName) + " names " + path + ", which the medium does not hold.");
    ++differences;
  }
  if (differences == 0) {
    r->Info("Bill of materials", std::string(kBomName) + " names the unzip and the " +
                                     std::to_string(files.size() - 1) +
                                     " jars as the medium holds them.");
  }
}

}  // namespace zorvex::medium
