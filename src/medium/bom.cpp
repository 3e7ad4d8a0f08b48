#include "medium/bom.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "manifest/manifest.h"
#include "manifest/sha256.h"
#include "medium/report.h"

namespace zorvex::medium {

namespace fs = std::filesystem;

namespace {

#ifndef ZORVEX_TOOL_VERSION
#define ZORVEX_TOOL_VERSION "0"
#endif

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

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
  std::ifstream in(file, std::ios::binary);
  manifest::Sha256 hash;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    hash.Update(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  if (!in.eof()) {
    *error = "cannot read " + manifest::Utf8Of(file);
    return false;
  }
  *hex = manifest::ToHex(hash.Final());
  return true;
}

namespace {

// The jars directly in `dir`, by name.
std::vector<fs::path> JarsIn(const fs::path& dir) {
  std::vector<fs::path> jars;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.path().extension() == ".jar" && e.is_regular_file(ec)) jars.push_back(e.path());
  }
  std::sort(jars.begin(), jars.end());
  return jars;
}

std::string Component(const std::string& type, const std::string& ref, const std::string& name,
                      const std::string& version, const std::string& sha256,
                      const std::vector<std::pair<std::string, std::string>>& properties,
                      const std::string& extra = "", const std::string& nested = "") {
  std::string json = "{\"type\":" + Quote(type) + ",\"bom-ref\":" + Quote(ref) +
                     ",\"name\":" + Quote(name);
  if (!version.empty()) json += ",\"version\":" + Quote(version);
  json += extra;
  if (!sha256.empty()) json += ",\"hashes\":[{\"alg\":\"SHA-256\",\"content\":" + Quote(sha256) + "}]";
  if (!properties.empty()) {
    json += ",\"properties\":[";
    for (size_t i = 0; i < properties.size(); ++i) {
      json += (i ? "," : "") + std::string("{\"name\":") + Quote(properties[i].first) +
              ",\"value\":" + Quote(properties[i].second) + "}";
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
  std::error_code ec;
  const fs::path components = disk / ".." / "stage" / "Components";
  if (fs::is_directory(components, ec)) {
    std::vector<fs::path> names;
    for (const auto& e : fs::directory_iterator(components, ec)) names.push_back(e.path());
    std::sort(names.begin(), names.end());
    for (const fs::path& name : names) {
      std::vector<fs::path> versions;
      for (const auto& e : fs::directory_iterator(name, ec)) versions.push_back(e.path());
      std::sort(versions.begin(), versions.end());
      for (const fs::path& version : versions) {
        for (const fs::path& jar : JarsIn(version / "1" / "DataFiles")) {
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
  }
  for (const fs::path& jar : JarsIn(disk / "jlib")) {
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
        implementor.empty() ? "" : ",\"publisher\":" + Quote(implementor)));
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
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string named = "\"name\":\"zorvex:path\",\"value\":" + Quote(path);
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

void CheckBillOfMaterials(const fs::path& disk, bool windows, Report* r) {
  std::ifstream in(disk / kBomName, std::ios::binary);
  if (!in) {
    r->Info("Bill of materials", std::string("No ") + kBomName +
                                     ": the medium names its parts nowhere (built by an older "
                                     "zorvex-medium).");
    return;
  }
  std::map<std::string, std::string> listed;  // path: SHA-256
  static const std::regex kPath(R"re("name":"zorvex:path","value":"((?:[^"\\]|\\.)*)")re");
  static const std::regex kHash(R"re("alg":"SHA-256","content":"([0-9a-f]{64})")re");
  for (std::string line; std::getline(in, line);) {
    std::smatch path, hash;
    if (std::regex_search(line, path, kPath) && std::regex_search(line, hash, kHash)) {
      listed[path[1]] = hash[1];
    }
  }
  std::vector<BomFile> files;
  std::string error;
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
