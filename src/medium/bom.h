// The medium's bill of materials: a CycloneDX 1.5 JSON document, Disk1/zorbom.cdx.json,
// that names what the medium holds (the launcher, the unzip, the Java runtime, every
// component's jars) with versions and SHA-256, and the tool that built it. It lies in the
// medium, so the manifest lists it and the launcher's signature covers it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zorvex::medium {

class Report;

inline constexpr char kBomName[] = "zorbom.cdx.json";

// One file of the medium the bill names: its path from the launcher's directory ("/"
// between names, "../stage/..." beside it), what it is, and its bytes' SHA-256 (hex).
struct BomFile {
  std::string path, type, name, version, component, sha256;
  // For a component's jar: the jars packed into it (name, SHA-256), as the build took them.
  std::vector<std::pair<std::string, std::string>> contains;
};

// A file's SHA-256 (hex). False with *error when it cannot be read.
bool Sha256OfFile(const std::filesystem::path& file, std::string* hex, std::string* error);

struct BomInputs {
  std::string medium_version;  // the installer's own version (--version)
  std::string launcher;        // "setup" or "setup.exe"
  std::string runtime_release; // the runtime's release file, as text ("" when none)
  std::vector<BomFile> files;  // the unzip and every jar
};

// The files of the medium in `disk` that the bill names (the unzip, every jar below
// ../stage/Components or jlib/), hashed now. False with *error when one cannot be read.
bool BomFilesOf(const std::filesystem::path& disk, bool windows, std::vector<BomFile>* files,
                std::string* error);

// The document, the same bytes for the same inputs.
std::string BillOfMaterials(const BomInputs& in);

// Gives the file `path` of the bill in `disk` a new SHA-256 (a program signed after the
// bill was written). False with *error when the bill does not name it.
bool RehashInBillOfMaterials(const std::filesystem::path& disk, const std::string& path,
                             const std::string& sha256, std::string* error);

// Compares the bill in `disk` with the medium: each file it names must be there with its
// SHA-256, and each file it would name must be named. Findings go to the report.
void CheckBillOfMaterials(const std::filesystem::path& disk, bool windows, Report* r);

}  // namespace zorvex::medium
