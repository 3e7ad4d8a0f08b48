// zorvex-medium build: a complete medium from a runtime and jars, in one command. The
// medium is made beside its final name and renamed into place only when complete, so
// that a failure leaves nothing half-built.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "bootstrap/components.h"
#include "medium/bom.h"
#include "medium/host.h"
#include "medium/jar_writer.h"
#include "medium/manifest_tool.h"
#include "medium/medium.h"
#include "platform/command_line.h"
#include "platform/platform.h"

namespace zorvex::medium {

namespace {

namespace fs = std::filesystem;
using manifest::PathOfUtf8;

constexpr char kRuntimeVersionFile[] = "release";
using bootstrap::kJre;
using bootstrap::kZek;
using bootstrap::kZekCore;
// The launcher's component list has room for this many entries.
constexpr size_t kMaxComponents = 16;
constexpr char kJlinkDir[] = "jlink-runtime";

// A name or version that becomes one directory of the medium: no separators, no "." or
// "..", nothing a shell or the parameter file would read otherwise.
bool IsPlainName(const std::string& s) {
  if (s.empty() || s == "." || s == "..") return false;
  for (char c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-' &&
        c != '+') {
      return false;
    }
  }
  return true;
}

// Makes a directory and its missing parents, level by level, so that a failure is the one
// of the level that failed (the library's create_directories takes a parent it cannot
// examine for a missing one, and then reports the child as missing).
void MakeDirectories(const fs::path& dir, std::error_code& ec) {
  ec.clear();
  fs::path at;
  for (const fs::path& part : dir) {
    at /= part;
    if (at == at.root_path() || at == at.root_name()) continue;
    fs::create_directory(at, ec);
    if (ec == std::errc::file_exists) {
      // Said when the level exists but could not be examined: the examining's error.
      std::error_code why;
      if (fs::is_directory(at, why)) ec.clear();
      if (why) ec = why;
    }
    if (ec) return;
  }
}

bool Fail(const std::string& message) {
  std::fprintf(stderr, "zorvex-medium build: %s\n", message.c_str());
  return false;
}

// The runtime's version from its "release" file (JAVA_VERSION="17.0.15"); "1" when absent.
std::string RuntimeVersion(const fs::path& runtime) {
  std::string text, error;
  std::error_code ec;
  if (!fs::exists(runtime / kRuntimeVersionFile, ec) && !ec) return "1";
  // A release file there but unread would give the medium a wrong runtime version.
  if (!ReadWholeFile(runtime / kRuntimeVersionFile, &text, &error)) throw std::runtime_error(error);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("JAVA_VERSION=", 0) != 0) continue;
    std::string v = line.substr(13);
    if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
    return v.empty() ? "1" : v;
  }
  return "1";
}

// Runs a command with its standard output and error going to `log`.
uint32_t RunQuietly(const std::string& command, const fs::path& log) {
  std::fflush(stdout);
  std::fflush(stderr);
  FILE* sink = std::fopen(log.string().c_str(), "wb");
  if (sink == nullptr) return platform::RunAndWait(command);
  const int saved_out = host::DuplicateDescriptor(1), saved_err = host::DuplicateDescriptor(2);
  host::PutDescriptor(fileno(sink), 1);
  host::PutDescriptor(fileno(sink), 2);
  uint32_t code = platform::RunAndWait(command);
  host::PutDescriptor(saved_out, 1);
  host::PutDescriptor(saved_err, 2);
  host::CloseDescriptor(saved_out);
  host::CloseDescriptor(saved_err);
  std::fclose(sink);
  return code;
}

// False after a message when `program` is built for another system or processor than the
// target's. A program whose header tells nothing (a script, say) is taken as it is.
bool ForTheTarget(const BuildOptions& o, const fs::path& program, const std::string& what) {
  const std::string head = ProgramHead(program);
  const System system = ProgramSystem(head);
  const System wanted = o.windows ? System::kWindows : System::kLinux;
  if (system != System::kUnknown && system != wanted) {
    return Fail(what + " (" + program.string() + ") is a " + SystemName(system) +
                " program, and the medium is for " + SystemName(wanted));
  }
  const Arch arch = ProgramArch(head);
  if (arch == Arch::kUnknown || arch == o.arch) return true;
  return Fail(what + " (" + program.string() + ") is a program for " + ArchName(arch) +
              ", and the medium is for " + ArchName(o.arch) +
              (arch == Arch::kArm64 ? " (--target linux-arm64 makes an arm64 medium)" : ""));
}

// Runs the JDK's jlink for a runtime of these modules with a class-data-sharing archive.
// Its output (warnings about classes the archive cannot hold are common) is shown only
// when it fails.
bool MakeRuntime(const BuildOptions& o, const fs::path& out) {
  fs::path jdk = PathOfUtf8(o.jdk);
  if (jdk.empty()) {
    const char* home = std::getenv("JAVA_HOME");
    if (home == nullptr) return Fail("--jlink-modules needs --jdk DIR or JAVA_HOME");
    jdk = PathOfUtf8(home);
  }
  const fs::path jlink = jdk / "bin" / host::ProgramName("jlink");
  if (!fs::exists(jlink)) return Fail("no jlink in " + (jdk / "bin").string());
  std::vector<std::string> args = {jlink.string(), "--add-modules", o.jlink_modules,
                                   "--no-header-files", "--no-man-pages"};
  if (o.jmods.empty()) {
    args.insert(args.end(), {"--generate-cds-archive", "--strip-debug"});
  } else {
    // Another system's modules: the class-data-sharing archive is made by running the
    // target's Java, and the native libraries' symbols are stripped by this machine's
    // tools; jlink can do neither for another processor, so only Java's debug
    // attributes go.
    args.insert(args.end(),
                {"--module-path", PathOfUtf8(o.jmods).string(), "--strip-java-debug-attributes"});
  }
  args.insert(args.end(), {"--output", out.string()});
  std::string command;
  for (const std::string& a : args) command += platform::QuoteWindowsArgument(a) + " ";
  fs::path log = out;
  log += ".log";
  uint32_t code = RunQuietly(command, log);
  std::ifstream in(log, std::ios::binary);
  std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::error_code ec;
  fs::remove(log, ec);
  if (code != 0) {
    return Fail("jlink failed with status " + std::to_string(code) + ": " + command + "\n" +
                output);
  }
  return true;
}

// Copies the tree below `from` into `to`, links as links; a file of a name that exists
// fails the copy, a directory that exists takes the copied one's entries. What it makes
// gets the medium's modes (0755 for directories and for files their owner may run, 0644
// for the rest), not the input tree's.
// Walked here rather than by the library's recursive copy, which on Windows takes every
// existing directory for the source itself (it tells files apart by inode numbers, which
// are all zero there) and refuses to copy into it.
bool CopyTree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  MakeDirectories(to, ec);
  if (ec) return Fail("cannot create " + to.string() + ": " + ec.message());
  fs::recursive_directory_iterator it(from, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path target = to / it->path().lexically_relative(from);
    const fs::file_status st = it->symlink_status(ec);
    if (ec) return Fail("cannot examine " + it->path().string() + ": " + ec.message());
    if (fs::is_symlink(st)) {
      fs::copy_symlink(it->path(), target, ec);
    } else if (fs::is_directory(st)) {
      // One that exists takes the copy's files too.
      if (fs::create_directory(target, ec)) fs::permissions(target, fs::perms(0755), ec);
    } else if (fs::is_regular_file(st)) {
      const bool runs = (st.permissions() & fs::perms::owner_exec) != fs::perms::none;
      if (fs::copy_file(it->path(), target, ec))
        fs::permissions(target, fs::perms(runs ? 0755 : 0644), ec);
    } else {
      return Fail(it->path().string() + " is neither a file, a directory nor a link: not copied");
    }
    if (ec)
      return Fail("cannot copy " + it->path().string() + " to " + target.string() + ": " +
                  ec.message());
  }
  if (ec) return Fail("cannot copy " + from.string() + ": " + ec.message());
  return true;
}

// The launcher of the target with its catalogues and the unzip.
bool CopyLauncher(const BuildOptions& o, const fs::path& disk) {
  const fs::path from = PathOfUtf8(o.launcher_dir);
  const char* names[] = {o.windows ? "setup.exe" : "setup", o.windows ? "unzip.exe" : "unzip"};
  std::error_code ec;
  for (const char* name : names) {
    if (!fs::exists(from / name))
      return Fail("no " + std::string(name) + " in " + from.string() + " (--launcher-dir)");
    if (!ForTheTarget(o, from / name, "the launcher directory's " + std::string(name))) {
      return false;
    }
    fs::copy_file(from / name, disk / name, ec);
    if (ec) return Fail("cannot copy " + (from / name).string() + ": " + ec.message());
  }
  if (!fs::is_directory(from / "resource")) return Fail("no resource/ in " + from.string());
  return CopyTree(from / "resource", disk / "resource");
}

bool Pack(const BuildOptions& o, const fs::path& components, const std::string& name,
          const std::string& version, const fs::path& tree, const std::string& prefix) {
  const fs::path dir = components / name / version / "1" / "DataFiles";
  std::error_code ec;
  MakeDirectories(dir, ec);
  if (ec) return Fail("cannot create " + dir.string() + ": " + ec.message());
  std::string error;
  if (!WriteJar(tree.string(), prefix, (dir / (name + ".jar")).string(), o.stored.count(name) > 0,
                &error))
    return Fail(error);
  return true;
}

bool PackFiles(const BuildOptions& o, const fs::path& components, const std::string& name,
               const std::string& version, const std::vector<std::string>& files) {
  const fs::path dir = components / name / version / "1" / "DataFiles";
  std::error_code ec;
  MakeDirectories(dir, ec);
  if (ec) return Fail("cannot create " + dir.string() + ": " + ec.message());
  std::string error;
  if (!WriteJarOfFiles(files, "zek/jlib/", (dir / (name + ".jar")).string(),
                       o.stored.count(name) > 0, &error))
    return Fail(error);
  return true;
}

std::string ParameterFile(const BuildOptions& o, const std::string& jre_location) {
  std::string text = "[Zorvex]\n";
  std::set<std::string> given;
  for (const std::string& kv : o.settings) given.insert(kv.substr(0, kv.find('=')));
  if (o.distribution && !given.count("DISTRIBUTION")) text += "DISTRIBUTION=TRUE\n";
  if (!o.distribution && !given.count("BOOTSTRAP")) text += "BOOTSTRAP=FALSE\n";
  if (!given.count("JRE_LOCATION")) text += "JRE_LOCATION=" + jre_location + "\n";
  // An empty list would stage the core and patch tool too, which a medium without them
  // cannot: the list names exactly the components packed, each at its highest version.
  if (o.distribution && !given.count("BOOTSTRAP_COMPS")) {
    text += "BOOTSTRAP_COMPS=" + std::string(kJre) + "," + kZek;
    if (!o.core_jars.empty()) text += std::string(",") + kZekCore;
    for (const auto& c : o.components) text += "," + c.name;
    text += "\n";
  }
  for (const std::string& kv : o.settings) text += kv + "\n";
  if (!o.prereqs.empty()) {
    std::string prereqs, error;
    // Unread, the checks would be left off the medium without a word.
    if (!ReadWholeFile(PathOfUtf8(o.prereqs), &prereqs, &error)) throw std::runtime_error(error);
    text += "\n" + prereqs;
  }
  return text;
}

// The signing options fit the target: Authenticode for Windows, OpenPGP for Linux.
bool ValidateSigning(const BuildOptions& o) {
  if (!o.sign.openpgp_key.empty() && o.windows) {
    return Fail(
        "--gpg-key signs a Linux medium; a Windows medium's programs are signed with "
        "Authenticode (--sign-cert, --sign-pkcs12, --sign-pkcs11-module)");
  }
  if (o.sign_detached && (!o.windows || o.sign.Wanted())) {
    return Fail(
        "--sign-detached is for a Windows medium signed by a service, without "
        "--sign-cert, --sign-pkcs12 or --sign-pkcs11-module");
  }
  if (o.sign.Wanted()) {
    if (!o.windows) {
      return Fail(
          "Authenticode signing is for Windows media: Linux programs (ELF) have no such "
          "signature; sign a Linux medium with --gpg-key ID");
    }
    std::string error;
    if (!ValidSignOptions(o.sign, &error)) return Fail(error);
  }
  return true;
}

// The jars and components: each there, each name once, within the launcher's list.
bool ValidateParts(const BuildOptions& o) {
  if (o.installer_jars.empty()) return Fail("at least one --installer-jar FILE is needed");
  // The jars land side by side in zek/jlib (jlib/ in the plain layout): two of one name
  // would hide each other.
  std::set<std::string> jar_names;
  for (const auto& jars : {o.installer_jars, o.core_jars}) {
    for (const std::string& jar : jars) {
      if (!fs::is_regular_file(PathOfUtf8(jar))) return Fail(jar + " does not exist");
      if (!jar_names.insert(PathOfUtf8(jar).filename().string()).second) {
        return Fail(jar + ": a jar of that name is given already");
      }
    }
  }
  if (o.components.size() + 3 > kMaxComponents) {
    return Fail("at most " + std::to_string(kMaxComponents - 3) +
                " further components fit the launcher's list");
  }
  std::set<std::string> names = {kJre, kZek, kZekCore};
  for (const auto& c : o.components) {
    if (!names.insert(c.name).second)
      return Fail("component " + c.name + " is given twice or is the launcher's own");
    if (!IsPlainName(c.name) || !IsPlainName(c.version) || !fs::is_directory(PathOfUtf8(c.dir))) {
      return Fail(
          "--component NAME:VERSION:DIR needs a plain name, a plain version and a directory (" +
          c.name + ":" + c.version + ":" + c.dir + ")");
    }
  }
  for (const std::string& name : o.stored) {
    if (!o.distribution) return Fail("--store " + name + ": the plain layout packs no jars");
    if (names.count(name) == 0 || (name == kZekCore && o.core_jars.empty())) {
      return Fail("--store " + name + ": no component of that name is packed");
    }
  }
  return true;
}

bool Validate(const BuildOptions& o) {
  if (o.out.empty()) return Fail("--out DIR is needed");
  if (fs::exists(PathOfUtf8(o.out)))
    return Fail(o.out + " exists already: a medium is built into a new directory");
  const bool kHostIsWindows = host::IsWindows();
  if (!o.jlink_modules.empty() && o.jmods.empty() &&
      (o.windows != kHostIsWindows || o.arch != ThisProgramArch())) {
    return Fail(
        "jlink makes a runtime for this machine's system only: give the target's runtime with "
        "--runtime DIR, or the target JDK's jmods with --jmods DIR");
  }
  if (!o.jmods.empty() && (o.jlink_modules.empty() || !fs::is_directory(PathOfUtf8(o.jmods))))
    return Fail("--jmods DIR needs --jlink-modules and a directory of jmods");
  if (o.runtime.empty() == o.jlink_modules.empty())
    return Fail("one of --runtime DIR and --jlink-modules LIST is needed");
  if (!ValidateSigning(o)) return false;
  if (!o.runtime.empty() && !fs::is_directory(PathOfUtf8(o.runtime) / "bin"))
    return Fail(o.runtime + " is no Java runtime (no bin/)");
  if (!IsPlainName(o.version)) return Fail("--version " + o.version + " is no plain version");
  if (!ValidateParts(o)) return false;
  for (const std::string& kv : o.settings) {
    if (kv.find('=') == std::string::npos || kv.front() == '=' ||
        kv.find_first_of("\r\n[") < kv.find('=') || kv.find_first_of("\r\n") != std::string::npos) {
      return Fail("--set " + kv + ": KEY=VALUE on one line is needed");
    }
  }
  if (!o.prereqs.empty() && !fs::is_regular_file(PathOfUtf8(o.prereqs)))
    return Fail(o.prereqs + " does not exist");
  return true;
}

// The Java runtime the medium carries: given, or made by jlink inside the medium-to-be
// (where the plain layout wants it, or beside the components, dropped once packed), with
// its version and release file (for the bill of materials).
struct Runtime {
  fs::path dir;
  std::string version;
  std::string release;
};
bool TakeRuntime(const BuildOptions& o, const fs::path& work, const fs::path& disk, Runtime* rt) {
  rt->dir = PathOfUtf8(o.runtime);
  if (rt->dir.empty()) {
    rt->dir = o.distribution ? work / kJlinkDir : disk / "jre";
    if (!MakeRuntime(o, rt->dir)) return false;
  }
  const fs::path java = rt->dir / "bin" / (o.windows ? "javaw.exe" : "java");
  if (!ForTheTarget(o, java, "the runtime's java")) return false;
  rt->version = RuntimeVersion(rt->dir);
  std::error_code ec;
  std::string error;
  if ((fs::exists(rt->dir / kRuntimeVersionFile, ec) || ec) &&
      !ReadWholeFile(rt->dir / kRuntimeVersionFile, &rt->release, &error)) {
    return Fail(error);
  }
  if (!IsPlainName(rt->version))
    return Fail("the runtime's release file names the version \"" + rt->version +
                "\", which is no plain name");
  return true;
}

// The runtime, the installer's jars and the further components where the layout puts
// them; *jre_location names the runtime as the parameter file will.
bool PlaceParts(const BuildOptions& o, const fs::path& work, const fs::path& disk,
                const Runtime& rt, std::string* jre_location) {
  std::error_code ec;
  *jre_location = "jre";
  if (o.distribution) {
    const fs::path components = work / "stage" / "Components";
    // The staged runtime lies in {target}/jre/{version}: the launcher takes the first entry.
    if (!Pack(o, components, kJre, rt.version, rt.dir, "jre/" + rt.version + "/")) return false;
    if (!PackFiles(o, components, kZek, o.version, o.installer_jars)) return false;
    if (!o.core_jars.empty() && !PackFiles(o, components, kZekCore, o.version, o.core_jars)) {
      return false;
    }
    for (const auto& c : o.components) {
      if (!Pack(o, components, c.name, c.version, PathOfUtf8(c.dir), "")) return false;
    }
    const char sep = o.windows ? '\\' : '/';
    *jre_location = std::string("..") + sep + "stage" + sep + "Components" + sep + kJre + sep +
                    rt.version + sep + "1" + sep + "DataFiles";
    return true;
  }
  if (!o.runtime.empty() && !CopyTree(rt.dir, disk / "jre")) return false;
  MakeDirectories(disk / "jlib", ec);
  if (ec) return Fail("cannot create " + (disk / "jlib").string() + ": " + ec.message());
  for (const auto& jars : {o.installer_jars, o.core_jars}) {
    for (const std::string& jar : jars) {
      fs::copy_file(PathOfUtf8(jar), disk / "jlib" / PathOfUtf8(jar).filename(), ec);
      if (ec) return Fail("cannot copy " + jar + ": " + ec.message());
    }
  }
  for (const auto& c : o.components) {
    if (!CopyTree(PathOfUtf8(c.dir), disk)) return false;
  }
  return true;
}

// The bill of materials, in the medium before the manifest lists it.
bool WriteBill(const BuildOptions& o, const fs::path& disk, const std::string& launcher,
               const std::string& release) {
  std::string error;
  BomInputs bom{o.version, launcher, release, {}};  // the files follow
  if (!BomFilesOf(disk, o.windows, &bom.files, &error)) return Fail(error);
  for (BomFile& f : bom.files) {  // the installer's jars, packed into its components' jars
    const std::vector<std::string>* jars = f.component == kZek       ? &o.installer_jars
                                           : f.component == kZekCore ? &o.core_jars
                                                                     : nullptr;
    for (size_t i = 0; jars != nullptr && i < jars->size(); ++i) {
      std::string sha256;
      if (!Sha256OfFile(PathOfUtf8((*jars)[i]), &sha256, &error)) return Fail(error);
      f.contains.push_back({manifest::Utf8Of(PathOfUtf8((*jars)[i]).filename()), sha256});
    }
  }
  std::ofstream bill(disk / kBomName, std::ios::binary);
  bill << BillOfMaterials(bom);
  bill.close();
  if (!bill) return Fail("cannot write " + (disk / kBomName).string() + SystemReason());
  return true;
}

// Everything into `work`, the medium's directory-to-be.
bool BuildInto(const BuildOptions& o, const fs::path& work) {
  const fs::path disk = o.distribution ? work / "Disk1" : work;
  std::error_code ec;
  MakeDirectories(disk, ec);
  if (ec) return Fail("cannot create " + disk.string() + ": " + ec.message());
  if (!CopyLauncher(o, disk)) return false;
  // The medium holds only signed programs: the copies are signed here, before the medium
  // is moved into place, and a signature that fails fails the build. The unzip first, as
  // the manifest lists it signed; the launcher last, once it carries the manifest's digest.
  std::string error;
  if (o.sign.Wanted() && !SignProgram(o.sign, (disk / "unzip.exe").string(), &error)) {
    return Fail(error);
  }
  Runtime rt;
  std::string jre_location;
  if (!TakeRuntime(o, work, disk, &rt) || !PlaceParts(o, work, disk, rt, &jre_location)) {
    return false;
  }
  const std::string param_text = ParameterFile(o, jre_location);
  errno = 0;
  std::ofstream param(disk / "zorparam.ini", std::ios::binary);
  param << param_text;
  param.close();
  if (!param) return Fail("cannot write " + (disk / "zorparam.ini").string() + SystemReason());
  if (o.distribution && o.runtime.empty()) fs::remove_all(rt.dir, ec);
  // Everything the launcher takes from the medium, listed and bound into the launcher, so
  // that its signature vouches for every byte.
  const std::string launcher = o.windows ? "setup.exe" : "setup";
  if (!WriteBill(o, disk, launcher, rt.release)) return false;
  if (!WriteAndBindManifest(work, disk, launcher, &error)) return Fail(error);
  if (o.sign.Wanted() && !SignProgram(o.sign, (disk / launcher).string(), &error)) {
    return Fail(error);
  }
  if (!o.sign.openpgp_key.empty() && !SignWithOpenPgp(o.sign, (disk / launcher).string(), &error)) {
    return Fail(error);
  }
  return true;
}

// Who is building: the marker a build writes first into its working directory, so that a
// later build can tell a directory left by a killed build of its own from anyone else's.
constexpr char kMarkerName[] = ".zorvex-medium-build";

std::string MarkerText(long pid) {
  return "zorvex-medium build\nhost=" + host::HostName() + "\npid=" + std::to_string(pid) + "\n";
}

// True when `dir` holds the marker of a build on this host whose process no longer runs.
bool LeftByDeadBuild(const fs::path& dir) {
  std::ifstream in(dir / kMarkerName, std::ios::binary);
  std::string tool, built_on, pid;
  if (!std::getline(in, tool) || !std::getline(in, built_on) || !std::getline(in, pid)) {
    return false;
  }
  if (tool != "zorvex-medium build" || built_on != "host=" + host::HostName() ||
      built_on == "host=" || pid.rfind("pid=", 0) != 0) {
    return false;
  }
  char* end = nullptr;
  long id = std::strtol(pid.c_str() + 4, &end, 10);
  return end != pid.c_str() + 4 && *end == '\0' && !host::ProcessMayRun(id);
}

// Makes this build's working directory beside the output, marked as this build's. One left
// by a killed build of this host goes first; any other stays, and the user is told.
fs::path MakeWorkDirectory(const fs::path& out, std::error_code* ec, fs::path* tried) {
  for (int n = 0; n < 100; ++n) {
    fs::path candidate = out;
    candidate += ".building" + (n == 0 ? std::string() : "." + std::to_string(n));
    *tried = candidate;
    if (fs::exists(fs::symlink_status(candidate)) &&
        fs::is_directory(fs::symlink_status(candidate))) {
      if (LeftByDeadBuild(candidate)) {
        std::fprintf(stderr, "zorvex-medium: removing %s, left by a build that no longer runs\n",
                     candidate.string().c_str());
        fs::remove_all(candidate, *ec);
      } else {
        std::fprintf(stderr,
                     "zorvex-medium: %s is not this build's and stays; another name is used\n",
                     candidate.string().c_str());
        continue;
      }
    }
    if (!fs::create_directory(candidate, *ec)) continue;
    // Written whole beside its name, then renamed: a build killed meanwhile never leaves
    // a marker cut short.
    const fs::path part = candidate / (std::string(kMarkerName) + ".part");
    std::ofstream marker(part, std::ios::binary);
    marker << MarkerText(host::ProcessId());
    marker.close();
    if (marker) fs::rename(part, candidate / kMarkerName, *ec);
    if (marker && !*ec) return candidate;
    if (!marker) *ec = std::error_code(errno ? errno : EIO, std::generic_category());
    std::error_code removing;
    fs::remove_all(candidate, removing);
    return {};
  }
  return {};
}

}  // namespace

namespace {

// Beside OUT while a service signs: the medium, built and not yet signed, and the data
// the next program's signature must cover.
fs::path UnsignedDir(const fs::path& out) { return out.string() + ".unsigned"; }
fs::path ToSignDir(const fs::path& out) { return out.string() + ".to-sign"; }
// In OUT.to-sign: the SHA-256 of the launcher the build made, which the manifest cannot
// list (it binds the manifest's digest).
constexpr char kLauncherRecord[] = "setup.exe.sha256";

// The launcher's directory of a medium: Disk1 of the distribution layout, else itself.
fs::path DiskOf(const fs::path& medium) {
  std::error_code ec;
  return fs::exists(medium / "Disk1" / "setup.exe", ec) ? medium / "Disk1" : medium;
}

void SayWhatToSign(const fs::path& out, const std::string& program) {
  std::printf(
      "Have the signing service sign %s (the data %s's Authenticode signature covers, "
      "SHA-256), then attach the PKCS#7 signature it returns:\n  zorvex-medium attach --out %s "
      "--signature FILE [--ca-file FILE]\n",
      (ToSignDir(out) / (program + ".der")).string().c_str(), program.c_str(),
      out.string().c_str());
}

}  // namespace

// The medium waiting for a signature is what the build made: its launcher as the record in
// `to_sign` says (the first round) and every other file as the manifest the launcher binds
// lists it, nothing added. Else false after saying what differs: a service must never sign
// a launcher that vouches for files the build did not make.
bool AsBuilt(const fs::path& medium, const fs::path& to_sign, bool first_round) {
  const fs::path disk = DiskOf(medium);
  std::string error;
  if (first_round) {
    std::string recorded, sha256;
    if (!ReadWholeFile(to_sign / kLauncherRecord, &recorded, &error) ||
        !Sha256OfFile(disk / "setup.exe", &sha256, &error) ||
        recorded.substr(0, recorded.find('\n')) != sha256) {
      return Fail((error.empty() ? "setup.exe is not the launcher the build made" : error) +
                  "\nNothing was signed or changed: build the medium again.");
    }
  }
  Report report;
  CheckManifest(manifest::Utf8Of(disk), manifest::Utf8Of(disk / "setup.exe"), &report);
  if (report.ExitStatus() == 2) {
    return Fail("the medium in " + medium.string() + " is not what the build made:\n" +
                report.ErrorText() + "Nothing was signed or changed: build the medium again.");
  }
  return true;
}

int Attach(const AttachOptions& o) {
  const fs::path out = fs::absolute(PathOfUtf8(o.out));
  const fs::path medium = UnsignedDir(out), to_sign = ToSignDir(out);
  std::error_code ec;
  const std::string program = fs::exists(to_sign / "unzip.exe.der", ec)   ? "unzip.exe"
                              : fs::exists(to_sign / "setup.exe.der", ec) ? "setup.exe"
                                                                          : "";
  if (program.empty() || !fs::is_directory(medium, ec)) {
    Fail("nothing beside " + out.string() +
         " waits for a signature: build it with --sign-detached first");
    return 2;
  }
  if (!fs::is_regular_file(PathOfUtf8(o.signature), ec)) {
    Fail(o.signature + " does not exist");
    return 2;
  }
  const fs::path disk = DiskOf(medium);
  const bool first_round = program == "unzip.exe";
  if (!AsBuilt(medium, to_sign, first_round)) return 2;
  std::string error;
  // The launcher's signer must be the unzip's, unless a CA vouches for each.
  const std::string same_signer =
      first_round || !o.ca_file.empty() ? "" : (disk / "unzip.exe").string();
  if (!AttachSignature((disk / program).string(), o.signature, o.ca_file, o.timeout_seconds, &error,
                       same_signer)) {
    Fail(error);
    return 2;
  }
  fs::remove(to_sign / (program + ".der"), ec);
  if (first_round) {
    // The unzip's bytes changed: the bill and the manifest follow them (those two entries
    // alone), the launcher binds the manifest's new digest, and its own signature is next.
    std::string sha256;
    if (!Sha256OfFile(disk / program, &sha256, &error) ||
        !RehashInBillOfMaterials(disk, program, sha256, &error) ||
        !UpdateManifestEntries(disk, "setup.exe", {program, kBomName}, &error) ||
        !ExtractSignedData((disk / "setup.exe").string(), (to_sign / "setup.exe.der").string(),
                           o.timeout_seconds, &error)) {
      Fail(error + "\nThe medium in " + medium.string() + " is not complete: build it again.");
      return 2;
    }
    std::printf("unzip.exe is signed.\n");
    SayWhatToSign(out, "setup.exe");
    return 0;
  }
  // Signed, the whole medium once more as the manifest lists it, before it is put in place.
  if (!AsBuilt(medium, to_sign, false)) return 2;
  errno = 0;
  if (!platform::Os().files->MoveFileNoReplace(medium.string(), out.string())) {
    const std::string reason = SystemReason();
    Fail("cannot rename " + medium.string() + " to " + out.string() +
         (fs::exists(out, ec) ? ": it exists now" : reason));
    return 2;
  }
  fs::remove_all(to_sign, ec);
  std::printf("setup.exe is signed. Medium built and signed in %s\n", out.string().c_str());
  return 0;
}

namespace {

// A medium to be signed by a service: what the service signs is laid out beside the
// unsigned medium, with the launcher's digest that the later rounds hold it to. False
// after removing both.
bool LayOutForTheService(const BuildOptions& options, const fs::path& out, const fs::path& built) {
  std::error_code ec;
  std::string error;
  fs::create_directory(ToSignDir(out), ec);
  std::string launcher_sha256;
  if (ec || !Sha256OfFile(DiskOf(built) / "setup.exe", &launcher_sha256, &error) ||
      !WriteWholeFile(ToSignDir(out) / kLauncherRecord, launcher_sha256 + "\n", &error) ||
      !ExtractSignedData((DiskOf(built) / "unzip.exe").string(),
                         (ToSignDir(out) / "unzip.exe.der").string(), options.sign.timeout_seconds,
                         &error)) {
    Fail(ec ? "cannot create " + ToSignDir(out).string() + ": " + ec.message() : error);
    fs::remove_all(built, ec);
    fs::remove_all(ToSignDir(out), ec);
    return false;
  }
  return true;
}

// Builds in `work` and moves the medium to `final_name`, never over a directory that
// someone made under that name meanwhile; false after removing `work`.
bool BuildAndMove(const BuildOptions& options, const fs::path& work, const fs::path& final_name) {
  std::error_code ec;
  bool ok = false;
  try {
    ok = BuildInto(options, work);
  } catch (const std::exception& e) {
    // A file system call that throws (std::filesystem without an error code): the build
    // fails as any other, and its directory goes.
    ok = Fail(e.what());
  }
  // The marker is the working directory's, not the medium's.
  if (ok) ok = fs::remove(work / kMarkerName, ec) || Fail("cannot remove the build's marker");
  if (ok) errno = 0;
  if (ok && !platform::Os().files->MoveFileNoReplace(work.string(), final_name.string())) {
    const std::string reason = SystemReason();
    ok = Fail("cannot rename " + work.string() + " to " + final_name.string() +
              (fs::exists(final_name, ec) ? ": it exists now" : reason));
  }
  if (!ok) fs::remove_all(work, ec);
  return ok;
}

}  // namespace

int Build(const BuildOptions& options) {
  if (!Validate(options)) return 2;
  const fs::path out = fs::absolute(PathOfUtf8(options.out));
  if (options.sign_detached) {
    std::error_code taken;
    for (const fs::path& p : {out, UnsignedDir(out), ToSignDir(out)}) {
      if (fs::exists(p, taken)) {
        Fail(p.string() + " exists: a medium signed by a service needs the three names free");
        return 2;
      }
    }
  }
  // A directory of this run's own beside the output: one that exists already is someone
  // else's and is left alone.
  std::error_code ec;
  fs::create_directories(out.parent_path(), ec);
  fs::path tried;
  const fs::path work = MakeWorkDirectory(out, &ec, &tried);
  if (work.empty()) {
    Fail("cannot make a directory beside " + out.string() + " (" + tried.string() + ")" +
         (ec ? ": " + ec.message() : ""));
    return 2;
  }
  const fs::path final_name = options.sign_detached ? UnsignedDir(out) : out;
  if (!BuildAndMove(options, work, final_name)) return 2;
  if (options.sign_detached) {
    if (!LayOutForTheService(options, out, final_name)) return 2;
    std::printf("Medium built, not yet signed, in %s\n", final_name.string().c_str());
    SayWhatToSign(out, "unzip.exe");
    return 0;
  }
  std::printf("Medium built in %s\n", out.string().c_str());
  return 0;
}

}  // namespace zorvex::medium
