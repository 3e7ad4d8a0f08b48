// Black-box tests of zorvex-medium: a medium built in one command runs on the built
// launcher of its target and passes the check of that target's tool; the same inputs give
// the same bytes; bad input leaves nothing behind; and check finds mistakes planted in a
// built medium.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "blackbox/harness.h"
#include "zip_bytes.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

// Every file and link below `dir` with its mode and contents, for comparing two trees.
std::string Fingerprint(const std::string& dir) {
  std::vector<std::string> lines;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    struct stat st {};
    lstat(e.path().c_str(), &st);
    std::string line = fs::relative(e.path(), dir).string() + " " + std::to_string(st.st_mode);
    if (e.is_regular_file())
      line += " " + std::to_string(std::hash<std::string>()(Slurp(e.path())));
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// The inputs of a build and the two commands, for one target.
class MediumTool {
 public:
  explicit MediumTool(const Target& target) : target_(target), medium_(target) {
    // The inputs: the stand-in runtime with its release file, two jars, a further
    // component with an executable script.
    Spit(medium_.jre_dir + "/release", "JAVA_VERSION=\"17.0.2\"\n");
    Spit(Input("zorinstaller.jar"), "installer");
    Spit(Input("zorcore.jar"), "core");
    Spit(Input("extra/extra/run.sh"), "#!/bin/sh\n");
    fs::permissions(Input("extra/extra/run.sh"), fs::perms(0777));  // packed as 0755
    fs::create_symlink("run.sh", Input("extra/extra/link"));
  }
  std::string Input(const std::string& name) const { return medium_.root + "/in/" + name; }
  // zorvex-medium build of the build machine, for the target.
  RunResult Build(const std::string& out, std::vector<std::string> more = {}) {
    return RunBuilt(BuiltTargets()[0], "zorvex-medium", BuildArgs(out, more), medium_.root);
  }
  // The arguments of such a build.
  std::vector<std::string> BuildArgs(const std::string& out, const std::vector<std::string>& more) {
    const Target& t = target_;
    std::vector<std::string> args = {"build",
                                     "--out",
                                     out,
                                     "--target",
                                     t.windows ? "windows" : "linux",
                                     "--launcher-dir",
                                     t.build_dir,
                                     "--runtime",
                                     medium_.jre_dir,
                                     "--installer-jar",
                                     Input("zorinstaller.jar"),
                                     "--core-jar",
                                     Input("zorcore.jar"),
                                     "--component",
                                     "extra.comp:2.0:" + Input("extra")};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  // zorvex-medium check of the target's own build.
  // A throw-away CA (PKI/ca.pem) and a code-signing certificate it issued to `name`
  // (PKI/sign.pem, its key PKI/sign.key written with `key_option`).
  static bool MakeSigner(const std::string& pki, const std::string& name,
                         const std::string& key_option) {
    fs::create_directories(pki);
    Spit(pki + "/ext.cnf", "extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n");
    return std::system(("cd '" + pki +
                        "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out "
                        "ca.pem -days 30 -subj '/CN=Zorvex Test CA' && openssl req -newkey "
                        "rsa:2048 " +
                        key_option + " -keyout sign.key -out sign.csr -subj '/CN=" + name +
                        "' && openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key "
                        "-CAcreateserial -out sign.pem -days 30 -extfile ext.cnf >/dev/null 2>&1")
                           .c_str()) == 0;
  }
  RunResult Check(const std::string& disk, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"check", medium_.TargetPath(disk)};
    args.insert(args.end(), more.begin(), more.end());
    return RunBuilt(target_, "zorvex-medium", args, medium_.root);
  }
  Target target_;
  Medium medium_;
};

class MediumToolTest : public ::testing::TestWithParam<Target>, public MediumTool {
 protected:
  MediumToolTest() : MediumTool(GetParam()) {}
};

// What the build machine's tool does the same for either target.
class NativeMediumToolTest : public ::testing::Test, public MediumTool {
 protected:
  NativeMediumToolTest() : MediumTool(BuiltTargets()[0]) {}
};

// The medium's bill of materials: valid CycloneDX 1.5 by the project's own validator,
// naming the runtime and each jar with its version and SHA-256; the check compares it with
// the medium and reports a jar that differs, and one it does not name.
TEST_P(MediumToolTest, BillOfMaterialsIsValidAndChecked) {
  if (GetParam().windows) GTEST_SKIP() << "the same document for both targets";
  const std::string validator =
      std::string(ZORVEX_SOURCE_DIR) + "/tests/tools/validate_cyclonedx.js";
  const char* modules = std::getenv("ZORVEX_CYCLONEDX_NODE_PATH");
  const std::string node_path = modules ? modules : "/opt/zorvex/cyclonedx/node_modules";
  if (!fs::exists(node_path + "/@cyclonedx/cyclonedx-library")) {
    GTEST_SKIP() << "the CycloneDX validator is not installed (scripts/install-deps.sh)";
  }
  const std::string out = medium_.root + "/bom";
  ASSERT_EQ(Build(out, {"--version", "2.1.0"}).status, 0);
  const std::string bom = out + "/Disk1/zorbom.cdx.json";
  const std::string text = Slurp(bom);
  EXPECT_EQ(std::system(("NODE_PATH='" + node_path + "' node '" + validator + "' '" + bom + "' >'" +
                         medium_.root + "/valid.txt' 2>&1")
                            .c_str()),
            0)
      << Slurp(medium_.root + "/valid.txt") << text;
  for (const char* named : {"\"name\":\"Java runtime\",\"version\":\"17.0.2\"",
                            "\"name\":\"zorvex.swd.zek.jar\",\"version\":\"2.1.0\"",
                            "\"name\":\"zorinstaller.jar\",\"version\":\"2.1.0\",\"hashes\"",
                            "\"name\":\"zorvex-medium\""}) {
    EXPECT_NE(text.find(named), std::string::npos) << named << "\n" << text;
  }
  RunResult checked = Check(out + "/Disk1");
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("zorbom.cdx.json names the unzip and the"), std::string::npos)
      << checked.out;
  const std::string jar =
      out + "/stage/Components/zorvex.swd.zek/2.1.0/1/DataFiles/zorvex.swd.zek.jar";
  std::string bytes = Slurp(jar);
  ASSERT_FALSE(bytes.empty());
  bytes[bytes.size() / 2] ^= 1;
  Spit(jar, bytes);
  Spit(out + "/stage/Components/zorvex.swd.zek/2.1.0/1/DataFiles/planted.jar", "PK");
  checked = Check(out + "/Disk1");
  EXPECT_EQ(checked.status, 2) << checked.out;
  EXPECT_NE(checked.out.find("zorbom.cdx.json names ../stage/Components/zorvex.swd.zek/2.1.0/1/"
                             "DataFiles/zorvex.swd.zek.jar with SHA-256"),
            std::string::npos)
      << checked.out;
  EXPECT_NE(checked.out.find("zorbom.cdx.json does not name ../stage/Components/zorvex.swd.zek/"
                             "2.1.0/1/DataFiles/planted.jar"),
            std::string::npos)
      << checked.out;
}

// Built with its jars deflated, and with the runtime's and a component's stored (which the
// unzip copies as they are): the same staged files either way.
TEST_P(MediumToolTest, BuiltMediumRunsAndPassesTheCheck) {
  for (const bool stored : {false, true}) {
    SCOPED_TRACE(stored ? "stored" : "deflated");
    const std::string out = medium_.root + "/releases/" + (stored ? "stored" : "built");
    std::vector<std::string> more = {"--set", "JRE_MEMORY_OPTIONS=-Xmx64m"};
    if (stored) more.insert(more.end(), {"--store", "zorvex.swd.jre", "--store", "extra.comp"});
    RunResult built = Build(out, more);  // the parent of `out` is made too
    ASSERT_EQ(built.status, 0) << built.out << built.err;
    const std::string jar =
        out + "/stage/Components/zorvex.swd.jre/17.0.2/1/DataFiles/zorvex.swd.jre.jar";
    // A stored entry holds the file's bytes as they are: the release file's text shows.
    EXPECT_EQ(Slurp(jar).find("JAVA_VERSION=\"17.0.2\"") != std::string::npos, stored);
    if (stored) {
      // Each stored file's data begins at a multiple of 4096, read from the local headers
      // as any unzip reads them; and building again gives the same bytes.
      const std::string bytes = Slurp(jar);
      auto at = [&](size_t i, int n) {
        uint32_t v = 0;
        for (int k = n - 1; k >= 0; --k) v = (v << 8) | static_cast<uint8_t>(bytes[i + k]);
        return v;
      };
      size_t files = 0;
      for (size_t off = 0; off + 30 <= bytes.size() && at(off, 4) == 0x04034b50;) {
        const size_t name = at(off + 26, 2), extra = at(off + 28, 2), size = at(off + 18, 4);
        const size_t data = off + 30 + name + extra;
        if (size > 0) {
          ++files;
          EXPECT_EQ(data % 4096, 0u) << bytes.substr(off + 30, name);
        }
        off = data + size;
      }
      EXPECT_GT(files, 1u);
      ASSERT_EQ(Build(out + "-again", more).status, 0);
      EXPECT_TRUE(Slurp(jar) == Slurp(out + "-again/stage/Components/zorvex.swd.jre/17.0.2/1/"
                                            "DataFiles/zorvex.swd.jre.jar"));
    }
    RunResult checked = Check(out + "/Disk1");
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    EXPECT_NE(checked.out.find("No problems found."), std::string::npos) << checked.out;

    fs::remove_all(medium_.temp_dir);
    fs::create_directories(medium_.temp_dir);
    medium_.medium_dir = out + "/Disk1";
    RunResult r = medium_.Run({"-silent", "-noconsole"}, kStillRunning);
    EXPECT_EQ(r.status, 259 & 0xFF) << r.out << r.err;  // not waited for: the files stay
    std::vector<JavaRecord> runs = medium_.WaitForJavaRuns(stored ? 2 : 1, 20000);
    ASSERT_EQ(runs.size(), stored ? 2u : 1u) << r.out;
    std::vector<std::string> left = medium_.TempEntries();
    ASSERT_EQ(left.size(), 1u);
    const std::string staged = medium_.temp_dir + "/" + left[0];
    const std::string java = GetParam().windows ? "javaw.exe" : "java";
    EXPECT_EQ(runs.back().args[0], medium_.TargetPath(staged + "/jre/17.0.2/bin/" + java));
    EXPECT_EQ(Slurp(staged + "/jre/17.0.2/bin/" + java), Slurp(medium_.jre_dir + "/bin/" + java));
    EXPECT_NE(std::find(runs.back().args.begin(), runs.back().args.end(), "-Xmx64m"),
              runs.back().args.end());
    EXPECT_EQ(Slurp(staged + "/zek/jlib/zorinstaller.jar"), "installer");
    EXPECT_EQ(Slurp(staged + "/zek/jlib/zorcore.jar"), "core");
    if (!GetParam().windows) {
      EXPECT_TRUE((fs::status(staged + "/extra/run.sh").permissions() & fs::perms::owner_exec) !=
                  fs::perms::none);
      EXPECT_EQ(fs::read_symlink(staged + "/extra/link"), "run.sh");
    } else {
      EXPECT_EQ(Slurp(staged + "/extra/link"), "run.sh");  // a link becomes a file naming it
    }
  }
  // A medium that others may change, or whose jars were packed from such a tree, is said.
  if (GetParam().windows) return;
  const std::string disk = medium_.root + "/releases/built/Disk1";
  fs::permissions(disk + "/zorparam.ini", fs::perms(0666));
  testing::ZipBytes jar;
  testing::ZipBytes::Options open;
  open.external = 0100777u << 16;
  jar.Add("extra/run.sh", "#!/bin/sh\n", open);
  Spit(disk + "/../stage/Components/extra.comp/2.0/1/DataFiles/extra.comp.jar", jar.Finish());
  RunResult checked = Check(disk);
  EXPECT_NE(checked.out.find("zorparam.ini may be written by group or others (mode 0666)"),
            std::string::npos)
      << checked.out;
  EXPECT_NE(checked.out.find("extra.comp.jar packs 1 entries that group or others may write, such "
                             "as extra/run.sh (0777)"),
            std::string::npos)
      << checked.out;
  // A stored jar made by another tool, its data where the headers leave it, is said.
  EXPECT_NE(checked.out.find("1 of the 1 stored files in"), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find("(extra.comp.jar: extra/run.sh): staging copies them"),
            std::string::npos)
      << checked.out;
}

// The target's own tool builds and checks a medium whose inputs and output lie under a
// Japanese path: on Windows every character must survive the command line and the file
// calls.
TEST_P(MediumToolTest, BuildsAndChecksUnderAJapanesePath) {
  const std::string dir = medium_.root + "/インストール媒体";
  Spit(dir + "/入力/zorinstaller.jar", "installer");
  const std::string out = dir + "/出力";
  const Target& t = GetParam();
  RunResult built =
      RunBuilt(t, "zorvex-medium",
               {"build", "--out", medium_.TargetPath(out), "--target",
                t.windows ? "windows" : "linux", "--launcher-dir", medium_.TargetPath(t.build_dir),
                "--runtime", medium_.TargetPath(medium_.jre_dir), "--installer-jar",
                medium_.TargetPath(dir + "/入力/zorinstaller.jar"), "--component",
                "extra.comp:2.0:" + medium_.TargetPath(dir + "/入力")},
               medium_.root, {{"LANG", "C.UTF-8"}});
  ASSERT_EQ(built.status, 0) << built.out << built.err;
  RunResult checked = RunBuilt(t, "zorvex-medium", {"check", medium_.TargetPath(out + "/Disk1")},
                               medium_.root, {{"LANG", "C.UTF-8"}});
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
  EXPECT_NE(checked.out.find("出力"), std::string::npos) << checked.out;
}

// A Windows medium signed in the build with a throw-away CA's certificate: its programs
// verify, still run under Wine, and the check tells signed, unsigned and changed apart; a
// wrong password or a missing key fails the build and leaves nothing; a fixed signing time
// gives the same bytes again.
TEST_P(MediumToolTest, SignedWindowsMedium) {
  if (!GetParam().windows) GTEST_SKIP() << "Authenticode is Windows'";
  if (std::system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
    GTEST_SKIP() << "osslsigncode and openssl are needed (scripts/install-deps.sh)";
  const std::string pki = medium_.root + "/pki";
  ASSERT_TRUE(MakeSigner(pki, "Zorvex Test Signer", "-passout pass:secret"));
  Spit(pki + "/password", "secret");
  const std::vector<std::string> sign = {
      "--sign-cert",          pki + "/sign.pem", "--sign-key",  pki + "/sign.key",
      "--sign-password-file", pki + "/password", "--sign-time", "1700000000"};
  const std::string out = medium_.root + "/signed";
  RunResult built = Build(out, sign);
  ASSERT_EQ(built.status, 0) << built.err;
  for (const char* program : {"setup.exe", "unzip.exe"}) {
    const std::string verify = "osslsigncode verify -in '" + out + "/Disk1/" + program +
                               "' -CAfile '" + pki +
                               "/ca.pem' 2>&1 | grep -q 'Signature verification: ok'";
    EXPECT_EQ(std::system(verify.c_str()), 0) << program;
  }
  RunResult checked = RunBuilt(
      BuiltTargets()[0], "zorvex-medium",
      {"check", out + "/Disk1", "--signatures", "--ca-file", pki + "/ca.pem"}, medium_.root);
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("setup.exe is signed by /CN=Zorvex Test Signer"), std::string::npos)
      << checked.out;
  // Signed, it still runs: the launcher stages with the signed unzip and starts Java.
  medium_.medium_dir = out + "/Disk1";
  RunResult r = medium_.Run({"-silent", "-noconsole"}, kStillRunning);
  EXPECT_EQ(r.status, 259 & 0xFF) << r.out << r.err;
  EXPECT_EQ(medium_.WaitForJavaRuns(1, 20000).size(), 1u) << r.out;
  // The same inputs and signing time: the same signed bytes.
  ASSERT_EQ(Build(medium_.root + "/again", sign).status, 0);
  EXPECT_EQ(Slurp(out + "/Disk1/setup.exe"), Slurp(medium_.root + "/again/Disk1/setup.exe"));
  // Unsigned: a warning. Changed after signing: an error.
  ASSERT_EQ(Build(medium_.root + "/unsigned").status, 0);
  checked = RunBuilt(BuiltTargets()[0], "zorvex-medium",
                     {"check", medium_.root + "/unsigned/Disk1", "--signatures"}, medium_.root);
  EXPECT_EQ(checked.status, 1) << checked.out;
  EXPECT_NE(checked.out.find("setup.exe is not signed"), std::string::npos) << checked.out;
  std::string bytes = Slurp(out + "/Disk1/unzip.exe");
  bytes[4096] ^= 1;
  Spit(out + "/Disk1/unzip.exe", bytes);
  checked = RunBuilt(BuiltTargets()[0], "zorvex-medium", {"check", out + "/Disk1", "--signatures"},
                     medium_.root);
  EXPECT_EQ(checked.status, 2) << checked.out;
  EXPECT_NE(checked.out.find("unzip.exe was changed after it was signed"), std::string::npos)
      << checked.out;
  // What is no sound signature is never called signed, with a CA file or without: a text
  // beginning with "MZ", random bytes, a signed program with a byte of its signature flipped.
  std::string flipped = Slurp(medium_.root + "/again/Disk1/setup.exe");
  flipped[flipped.size() - 300] ^= 0xFF;
  std::string noise(4096, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string damaged = medium_.root + "/damaged";
  fs::create_directories(damaged);
  for (const std::string& bytes : {std::string("MZ this is text\n"), noise, flipped}) {
    Spit(damaged + "/setup.exe", bytes);
    for (const std::vector<std::string>& ca :
         {std::vector<std::string>{}, std::vector<std::string>{"--ca-file", pki + "/ca.pem"}}) {
      std::vector<std::string> args = {"check", damaged, "--signatures"};
      args.insert(args.end(), ca.begin(), ca.end());
      checked = RunBuilt(BuiltTargets()[0], "zorvex-medium", args, medium_.root);
      EXPECT_EQ(checked.status, 2) << checked.out;
      EXPECT_NE(checked.out.find("setup.exe is not soundly signed"), std::string::npos)
          << checked.out;
      EXPECT_EQ(checked.out.find("is signed by"), std::string::npos) << checked.out;
    }
  }
  // Every program present is judged: a changed setup.exe stays an error with a decoy Linux
  // launcher and signature beside it; a Windows medium without setup.exe is one.
  std::string tampered = Slurp(medium_.root + "/again/Disk1/setup.exe");
  tampered[4096] ^= 1;
  const std::string decoyed = medium_.root + "/decoyed";
  struct Decoy {
    std::vector<std::string> beside;
    bool launcher;
    std::string says;
  };
  for (const Decoy& row :
       std::vector<Decoy>{{{}, true, "setup.exe was changed after it was signed"},
                          {{"setup"}, true, "setup.exe was changed after it was signed"},
                          {{"setup", "setup.sig"}, true, "one medium has one launcher"},
                          {{}, false, "setup.exe is missing"}}) {
    SCOPED_TRACE(row.says + " " + std::to_string(row.beside.size()));
    fs::remove_all(decoyed);
    fs::create_directories(decoyed);
    fs::copy_file(medium_.root + "/again/Disk1/unzip.exe", decoyed + "/unzip.exe");
    if (row.launcher) Spit(decoyed + "/setup.exe", tampered);
    for (const std::string& name : row.beside) Spit(decoyed + "/" + name, "");
    checked =
        RunBuilt(BuiltTargets()[0], "zorvex-medium",
                 {"check", decoyed, "--signatures", "--ca-file", pki + "/ca.pem"}, medium_.root);
    EXPECT_EQ(checked.status, 2) << checked.out;
    EXPECT_NE(checked.out.find(row.says), std::string::npos) << checked.out;
    if (row.launcher) {
      EXPECT_NE(checked.out.find("setup.exe was changed after it was signed"), std::string::npos)
          << checked.out;
    }
  }
  // A self-signed signer: intact, it is named so; with a byte of its carried certificate's
  // own signature changed (which neither the program's hash nor the signature over it
  // covers), it is not soundly signed.
  ASSERT_EQ(std::system(("cd '" + pki +
                         "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out "
                         "self.pem -days 30 -subj '/CN=Zorvex Self Signer' -addext "
                         "extendedKeyUsage=codeSigning && openssl x509 -in self.pem -outform DER "
                         "-out self.der >/dev/null 2>&1")
                            .c_str()),
            0);
  ASSERT_EQ(Build(medium_.root + "/self",
                  {"--sign-cert", pki + "/self.pem", "--sign-key", pki + "/self.key"})
                .status,
            0);
  const std::string self_signed = Slurp(medium_.root + "/self/Disk1/setup.exe");
  const std::string der = Slurp(pki + "/self.der");
  const size_t carried = self_signed.find(der);
  ASSERT_NE(carried, std::string::npos);
  std::string broken = self_signed;
  broken[carried + der.size() - 20] ^= 0x01;  // inside the certificate's signature
  for (bool intact : {true, false}) {
    Spit(damaged + "/setup.exe", intact ? self_signed : broken);
    checked = RunBuilt(BuiltTargets()[0], "zorvex-medium", {"check", damaged, "--signatures"},
                       medium_.root);
    if (intact) {
      EXPECT_EQ(checked.status, 0) << checked.out;
      EXPECT_NE(checked.out.find("the certificate chain is self-signed"), std::string::npos)
          << checked.out;
    } else {
      EXPECT_EQ(checked.status, 2) << checked.out;
      EXPECT_NE(checked.out.find("setup.exe is not soundly signed: a certificate it carries is "
                                 "damaged"),
                std::string::npos)
          << checked.out;
    }
  }
  // A time-stamp server that accepts and never answers: a bounded wait, a clear error
  // naming it, nothing left, and the password (given in the environment) on no disk.
  int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 4), 0);
  getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  std::vector<std::string> stamped = {
      "--sign-cert", pki + "/sign.pem", "--sign-key", pki + "/sign.key", "--timestamp-url",
      url,           "--timeout",       "3"};
  std::string command =
      "ZORVEX_SIGN_PASSWORD=secret timeout 60 '" + BuiltTargets()[0].build_dir + "/zorvex-medium'";
  for (const std::string& a : BuildArgs(medium_.root + "/stamped", stamped)) {
    command += " '" + a + "'";
  }
  const auto started = std::chrono::steady_clock::now();
  const int status = std::system((command + " > '" + medium_.root + "/stamped.txt' 2>&1").c_str());
  close(server);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(Slurp(medium_.root + "/stamped.txt")
                .find("the time-stamp server " + url + " did not answer within 3 seconds"),
            std::string::npos)
      << Slurp(medium_.root + "/stamped.txt");
  EXPECT_FALSE(fs::exists(medium_.root + "/stamped"));
  EXPECT_FALSE(fs::exists(medium_.root + "/stamped.building"));
  for (const auto& e : fs::recursive_directory_iterator(medium_.root)) {
    if (e.is_regular_file() && e.path().parent_path() != pki) {
      EXPECT_EQ(Slurp(e.path()).find("secret"), std::string::npos) << e.path();
    }
  }
  // A wrong password, a missing key: the build fails and leaves nothing.
  Spit(pki + "/wrong", "not it");
  std::vector<std::string> wrong = sign;
  wrong[5] = pki + "/wrong";
  std::vector<std::string> missing = sign;
  missing[3] = pki + "/none.key";
  for (const auto& options : {wrong, missing}) {
    RunResult failed = Build(medium_.root + "/failed", options);
    EXPECT_EQ(failed.status, 2) << failed.err;
    EXPECT_FALSE(fs::exists(medium_.root + "/failed"));
    EXPECT_FALSE(fs::exists(medium_.root + "/failed.building"));
  }
}

TEST_F(NativeMediumToolTest, SameInputsGiveTheSameBytes) {
  for (const char* layout : {"distribution", "plain"}) {
    SCOPED_TRACE(layout);
    const std::string one = medium_.root + "/one-" + layout, two = medium_.root + "/two-" + layout;
    ASSERT_EQ(Build(one, {"--layout", layout}).status, 0);
    // Later times and another order of the inputs on disk change nothing.
    fs::last_write_time(Input("zorcore.jar"), fs::file_time_type::clock::now());
    Spit(Input("extra/extra/a-first.txt"), "");
    fs::remove(Input("extra/extra/a-first.txt"));
    ASSERT_EQ(Build(two, {"--layout", layout}).status, 0);
    EXPECT_EQ(Fingerprint(one), Fingerprint(two));
  }
}

// Info-ZIP reads every packed jar as sound, with the modes, links and fixed time kept.
TEST_F(NativeMediumToolTest, PackedJarsAreSoundForInfoZip) {
  const std::string out = medium_.root + "/built";
  ASSERT_EQ(Build(out).status, 0);
  std::string listing;
  for (const auto& e : fs::recursive_directory_iterator(out + "/stage")) {
    if (e.path().extension() != ".jar") continue;
    SCOPED_TRACE(e.path().string());
    EXPECT_EQ(std::system(("unzip -tqq '" + e.path().string() + "'").c_str()), 0);
    FILE* zipinfo = popen(("zipinfo '" + e.path().string() + "'").c_str(), "r");
    ASSERT_NE(zipinfo, nullptr);
    char line[512];
    while (std::fgets(line, sizeof line, zipinfo) != nullptr) listing += line;
    pclose(zipinfo);
  }
  // Each line: the mode, then the fixed time, then the name.
  for (const auto& [mode, name] : std::vector<std::pair<std::string, std::string>>{
           {"lrwxrwxrwx", "extra/link"},
           {"-rwxr-xr-x", "extra/run.sh"},  // the medium's own mode, not the input's 0777
           {"-rw-r--r--", "zek/jlib/zorcore.jar"},
           {"-rwxr-xr-x", "jre/17.0.2/bin/java"}}) {
    std::regex line("\n" + mode + " .* 00-Jan-01 00:00 " + name + "\n");
    EXPECT_TRUE(std::regex_search(listing, line)) << mode << " " << name << "\n" << listing;
  }
}

TEST_F(NativeMediumToolTest, BadInputIsRefusedAndLeavesNothing) {
  struct Row {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Row> rows = {
      {{"--core-jar", Input("missing.jar")}, "missing.jar does not exist"},
      {{"--component", "extra.comp:3.0:" + Input("extra")}, "extra.comp is given twice"},
      {{"--core-jar", Input("zorinstaller.jar")}, "a jar of that name is given already"},
      {{"--component", "../escape:1.0:" + Input("extra")}, "needs a plain name"},
      {{"--set", "=TRUE"}, "KEY=VALUE on one line is needed"},
      {{"--set", "BOOTSTRAP=TRUE\n[Other]"}, "KEY=VALUE on one line is needed"},
      {{"--launcher-dir", medium_.root}, "(--launcher-dir)"},
      {{"--jlink-modules", "java.base"}, "one of --runtime DIR and --jlink-modules"},
      {{"--target", "windows", "--runtime", "", "--jlink-modules", "java.base"},
       "jlink makes a runtime for this machine"},
      {{"--store", "no.such.comp"}, "--store no.such.comp: no component of that name is packed"},
      {{"--store", "zorvex.swd.jre", "--layout", "plain"}, "the plain layout packs no jars"},
  };
  const std::string out = medium_.root + "/bad";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    RunResult r = Build(out, row.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(out + ".building"));
  }
  // A work directory of that name that someone else left is not the build's to remove.
  Spit(out + ".building/theirs", "kept");
  RunResult kept = Build(out);
  ASSERT_EQ(kept.status, 0);
  EXPECT_EQ(Slurp(out + ".building/theirs"), "kept");
  EXPECT_NE(kept.err.find(out + ".building is not this build's and stays"), std::string::npos)
      << kept.err;
  RunResult r = Build(out);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
}

// A build killed midway leaves its working directory; the next build of the same output
// removes it, since its marker names a process of this host that no longer runs.
TEST_F(NativeMediumToolTest, KilledBuildIsClearedByTheNext) {
  for (int i = 0; i < 3000; ++i) Spit(Input("extra/extra/many/f" + std::to_string(i)), "x");
  const std::string out = medium_.root + "/killed";
  std::vector<std::string> args = BuildArgs(out, {});
  args.insert(args.begin(), BuiltTargets()[0].build_dir + "/zorvex-medium");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  const std::string marker = out + ".building/.zorvex-medium-build";
  int status = 0;
  bool ended = false;
  while (!fs::exists(marker) && !(ended = waitpid(pid, &status, WNOHANG) == pid)) {
    usleep(50);
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (ended || !fs::exists(out + ".building")) GTEST_SKIP() << "the build ended before the kill";
  RunResult r = Build(out);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("removing " + out + ".building, left by a build that no longer runs"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(out + ".building"));
  EXPECT_FALSE(fs::exists(out + ".building.1"));
  EXPECT_FALSE(fs::exists(out + "/.zorvex-medium-build"));
}

// The space check before staging counts everything staging writes, the unzip's checked
// copy too: in a TEMP (a small tmpfs) with room for the jars' contents but not for them and
// the copy, a verified run ends before it writes anything, saying how much it needs.
TEST_F(NativeMediumToolTest, SpaceCheckCountsTheUnzipsCopy) {
  if (::geteuid() != 0) GTEST_SKIP() << "a small tmpfs, as root";
  const std::string out = medium_.root + "/verified", small = medium_.root + "/small";
  ASSERT_EQ(Build(out, {"--set", "BOOTSTRAP_SIZE=0"}).status, 0);
  medium_.medium_dir = out + "/Disk1";
  // What unpacking the jars writes, as Info-ZIP counts it, and the unzip's size: the
  // tmpfs holds the one and half the other.
  uint64_t contents = 0;
  for (const auto& e : fs::recursive_directory_iterator(out + "/stage")) {
    if (e.path().extension() != ".jar") continue;
    FILE* listing = ::popen(("unzip -l '" + e.path().string() + "' | tail -1").c_str(), "r");
    ASSERT_NE(listing, nullptr);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, listing), nullptr);
    ::pclose(listing);
    contents += std::stoull(line);
  }
  const uint64_t unzip = fs::file_size(out + "/Disk1/unzip");
  fs::create_directories(small);
  const std::string size = std::to_string((contents + unzip / 2) / 1024) + "k";
  if (std::system(("mount -t tmpfs -o size=" + size + " tmpfs " + small).c_str()) != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  RunResult r = medium_.Run({"-silent", "-noconsole"}, {{"TEMP", small}});
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(small)) left.push_back(e.path().filename());
  std::system(("umount " + small).c_str());
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("There is not enough free space in "), std::string::npos) << r.out;
  ASSERT_EQ(left.size(), 1u) << r.out;  // the kept log, nothing staged
  EXPECT_TRUE(left[0].ends_with(".log")) << left[0];
}

// A build killed while it signs with a key file takes its signer with it: nothing goes on
// writing into the working directory that the next build removes. A signer writing into a
// token is never killed midway (a token's files rewritten in part lose its keys): it
// finishes. (The signer here stands in for osslsigncode: it says it runs, and works.)
TEST_F(NativeMediumToolTest, KilledBuildTakesItsSignerWithIt) {
  const std::vector<Target> targets = BuiltTargets();
  if (targets.size() < 2) GTEST_SKIP() << "the Windows programs are not built";
  const std::string bin = medium_.root + "/bin", pid_file = medium_.root + "/signer.pid";
  const std::string finished = medium_.root + "/signer.finished";
  // (Perl, as a shell would take a held-back signal when it waits for a child.)
  Spit(bin + "/osslsigncode", "#!/usr/bin/perl\nopen(my $f, '>', '" + pid_file +
                                  "'); print $f $$; close($f); sleep 2;\nopen($f, '>', '" +
                                  finished + "'); close($f); sleep 60;\n");
  fs::permissions(bin + "/osslsigncode", fs::perms(0755));
  for (const char* file : {"sign.pem", "sign.key", "module.so"})
    Spit(medium_.root + "/" + file, "x");
  for (bool token : {false, true}) {
    SCOPED_TRACE(token ? "token" : "key file");
    fs::remove(pid_file);
    fs::remove(finished);
    std::vector<std::string> args = {
        targets[0].build_dir + "/zorvex-medium",
        "build",
        "--out",
        medium_.root + "/signed",
        "--target",
        "windows",
        "--launcher-dir",
        targets[1].build_dir,
        "--runtime",
        medium_.jre_dir,
        "--installer-jar",
        Input("zorinstaller.jar"),
        "--sign-cert",
        medium_.root + "/sign.pem",
        "--sign-key",
        token ? "pkcs11:token=t;object=k" : medium_.root + "/sign.key"};
    if (token) args.insert(args.end(), {"--sign-pkcs11-module", medium_.root + "/module.so"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = {"PATH=" + bin + ":" + getenv("PATH"),
                                         "ZORVEX_SIGN_PASSWORD=x"};
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 600 && Slurp(pid_file).empty() && !ended; ++i) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      usleep(50000);
    }
    ASSERT_FALSE(Slurp(pid_file).empty()) << "the signer never started";
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    const std::string signer = "/proc/" + std::to_string(std::stol(Slurp(pid_file)));
    for (int i = 0; i < 150 && !fs::exists(finished); ++i) usleep(20000);
    EXPECT_EQ(fs::exists(finished), token) << "the signer was not left to finish, or was";
    if (token) kill(std::stol(Slurp(pid_file)), SIGKILL);  // its work is done: the stand-in waits
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
      const std::string stat = Slurp(signer + "/stat");
      gone = stat.empty() || stat.find(") Z ") != std::string::npos;
      if (!gone) usleep(20000);
    }
    EXPECT_TRUE(gone) << "the signer outlived the build";
  }
}

// One mistake of each kind, planted in a copy of a clean built medium.
// A verified medium: it stages; one byte changed in each kind of file it takes, a file
// planted where it would stage or run it, or a changed manifest, and the run ends with -1
// before anything from the medium runs, naming the file, with nothing staged left behind
// A Linux medium signed with OpenPGP (a key in a GNUPGHOME of the test's, its passphrase
// given in the environment): the signature verifies against a keyring with the key, the
// medium's own check passes with it beside the launcher; a changed launcher, a keyring
// without the key and a missing signature are reported; a wrong passphrase fails the build,
// leaving nothing; a Windows medium is not signed so.
TEST_P(MediumToolTest, SignedLinuxMedium) {
  if (GetParam().windows) GTEST_SKIP() << "OpenPGP signs the Linux launcher";
  if (std::system("command -v gpg >/dev/null && command -v gpgv >/dev/null") != 0)
    GTEST_SKIP() << "gpg and gpgv are needed (scripts/install-deps.sh)";
  const std::string home = medium_.root + "/gnupg", other = medium_.root + "/gnupg-other";
  // A passphrase of this test's own: the watch below looks for it in every process, and
  // the Windows signing test, which may run meanwhile, passes another.
  const std::string passphrase = "openpgp-secret";
  for (const std::string& dir : {home, other}) {
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    ASSERT_EQ(std::system(("GNUPGHOME='" + dir +
                           "' gpg --batch --pinentry-mode loopback --passphrase " + passphrase +
                           " "
                           "--quick-gen-key 'Zorvex Release <release@example.invalid>' rsa2048 "
                           "sign never >/dev/null 2>&1 && GNUPGHOME='" +
                           dir + "' gpg --export > '" + dir + ".keys' && GNUPGHOME='" + dir +
                           "' gpg --export --armor > '" + dir + ".asc'")
                              .c_str()),
              0);
  }
  const Env env = {{"GNUPGHOME", home}, {"ZORVEX_SIGN_PASSWORD", passphrase}};
  const std::string out = medium_.root + "/signed";
  // The agents that made the keys end first (and at the end).
  auto stop_agents = [&] {
    for (const std::string& dir : {home, other}) {
      std::system(("GNUPGHOME='" + dir + "' gpgconf --kill all >/dev/null 2>&1").c_str());
    }
  };
  stop_agents();
  // The passphrase in no child's environment (gpg, and the agent it starts), read over and
  // over while the build signs; no agent of the build's left afterwards.
  std::atomic<bool> building{true};
  std::atomic<int> seen{0};
  std::thread watch([&] {
    while (building) {
      for (const auto& p : fs::directory_iterator("/proc")) {
        if (Slurp(p.path().string() + "/environ").find("ZORVEX_SIGN_PASSWORD=" + passphrase) !=
                std::string::npos &&
            Slurp(p.path().string() + "/comm") != "zorvex-medium\n") {
          ++seen;
        }
      }
    }
  });
  RunResult built =
      RunBuilt(BuiltTargets()[0], "zorvex-medium",
               BuildArgs(out, {"--gpg-key", "release@example.invalid"}), medium_.root, env);
  building = false;
  watch.join();
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(seen, 0) << "the passphrase stood in a child's environment";
  EXPECT_NE(
      std::system(("GNUPGHOME='" + home +
                   "' gpg-connect-agent --no-autostart 'GETINFO pid' /bye 2>&1 | grep -q '^D '")
                      .c_str()),
      0)
      << "the agent the build started outlived it";
  const std::string disk = out + "/Disk1";
  auto check = [&](const std::vector<std::string>& more) {
    std::vector<std::string> args = {"check", disk};
    args.insert(args.end(), more.begin(), more.end());
    return RunBuilt(BuiltTargets()[0], "zorvex-medium", args, medium_.root);
  };
  RunResult checked = check({"--signatures", "--keyring", home + ".keys"});
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("setup is signed by Zorvex Release <release@example.invalid>"),
            std::string::npos)
      << checked.out;
  checked = check({"--keyring", home + ".keys"});  // the whole check: the signature is no stray
  EXPECT_EQ(checked.status, 0) << checked.out;
  struct Row {
    std::string keyring, says;
    int status;
  };
  const std::string launcher = Slurp(disk + "/setup");
  Spit(medium_.root + "/noise.keys", "not a keyring\n");
  for (const Row& row : std::vector<Row>{{home + ".asc", "setup is signed by Zorvex Release", 0},
                                         {"", "not verified: give --keyring", 1},
                                         {medium_.root + "/noise.keys", "is neither an OpenPGP", 2},
                                         {other + ".asc", "a key that is not in", 2},
                                         {other + ".keys", "a key that is not in", 2},
                                         {home + ".keys", "was changed after it was signed", 2}}) {
    SCOPED_TRACE(row.says);
    if (row.keyring == home + ".keys") {
      std::string changed = launcher;
      changed[changed.size() / 2] ^= 1;
      Spit(disk + "/setup", changed);
    }
    checked = row.keyring.empty() ? check({"--signatures"})
                                  : check({"--signatures", "--keyring", row.keyring});
    EXPECT_EQ(checked.status, row.status) << checked.out;
    EXPECT_NE(checked.out.find(row.says), std::string::npos) << checked.out;
    if (row.status != 0) {
      EXPECT_EQ(checked.out.find("the signature matches"), std::string::npos) << checked.out;
    }
  }
  fs::remove(disk + "/setup.sig");
  checked = check({"--signatures", "--keyring", home + ".keys"});
  EXPECT_EQ(checked.status, 1) << checked.out;
  EXPECT_NE(checked.out.find("setup is not signed"), std::string::npos) << checked.out;
  // A wrong passphrase: the build fails and leaves nothing.
  // So does a signing time before the key was made, which no gpgv would take.
  stop_agents();
  for (const auto& [more, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "cannot sign"}, {{"--sign-time", "1000000000"}, "is before the key"}}) {
    std::vector<std::string> options = {"--gpg-key", "release@example.invalid"};
    options.insert(options.end(), more.begin(), more.end());
    RunResult failed =
        RunBuilt(BuiltTargets()[0], "zorvex-medium", BuildArgs(medium_.root + "/failed", options),
                 medium_.root,
                 {{"GNUPGHOME", home}, {"ZORVEX_SIGN_PASSWORD", more.empty() ? "no" : passphrase}});
    EXPECT_EQ(failed.status, 2) << failed.err;
    EXPECT_NE(failed.err.find(says), std::string::npos) << failed.err;
    EXPECT_FALSE(fs::exists(medium_.root + "/failed"));
    EXPECT_FALSE(fs::exists(medium_.root + "/failed.building"));
  }
  stop_agents();
}

// Signed by a service that keeps the key (the test plays it with osslsigncode, signing the
// program as handed out and returning the signature alone): the build stops short of the
// signatures; the unzip's signature is attached, then the launcher's, each checked first; a
// signature made for other bytes, one that declares another content type, and a medium
// changed while it waits are refused and change nothing; the medium is in place only when
// both programs are signed, by one signer unless a CA vouches for each, and then passes the
// whole check.
TEST_P(MediumToolTest, SignedThroughASigningService) {
  if (!GetParam().windows) GTEST_SKIP() << "Authenticode is Windows'";
  if (std::system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
    GTEST_SKIP() << "osslsigncode and openssl are needed (scripts/install-deps.sh)";
  const std::string pki = medium_.root + "/pki";
  ASSERT_TRUE(MakeSigner(pki, "Zorvex Service Signer", "-nodes"));
  // The service: the PKCS#7 signature of the program, with `cert` and `key`.
  auto service = [&](const std::string& program, const std::string& signature,
                     const std::string& cert = "sign.pem", const std::string& key = "sign.key") {
    fs::remove(signature);
    fs::remove(signature + ".exe");
    return std::system(("osslsigncode sign -certs '" + pki + "/" + cert + "' -key '" + pki + "/" +
                        key + "' -in '" + program + "' -out '" + signature +
                        ".exe' >/dev/null 2>&1 && osslsigncode extract-signature -in '" +
                        signature + ".exe' -out '" + signature + "' >/dev/null 2>&1")
                           .c_str());
  };
  const std::string out = medium_.root + "/served";
  RunResult built = Build(out, {"--sign-detached"});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_FALSE(fs::exists(out));
  const std::string unsigned_disk = out + ".unsigned/Disk1";
  ASSERT_TRUE(fs::exists(out + ".to-sign/unzip.exe.der"));
  auto attach = [&](const std::string& signature, bool ca = true) {
    std::vector<std::string> args = {"attach", "--out", out, "--signature", signature};
    if (ca) args.insert(args.end(), {"--ca-file", pki + "/ca.pem"});
    return RunBuilt(BuiltTargets()[0], "zorvex-medium", args, medium_.root);
  };
  // Refused, nothing changed: a signature made for other bytes (the launcher's); one of
  // SpcIndirectData's bytes that declares another content type (osslsigncode's signature of
  // the extracted data); a medium changed or added to, or another launcher, after the build.
  ASSERT_EQ(service(unsigned_disk + "/setup.exe", pki + "/other.sig"), 0);
  ASSERT_EQ(std::system(("osslsigncode sign -certs '" + pki + "/sign.pem' -key '" + pki +
                         "/sign.key' -in '" + out + ".to-sign/unzip.exe.der' -out '" + pki +
                         "/typed.sig' >/dev/null 2>&1")
                            .c_str()),
            0);
  ASSERT_EQ(service(unsigned_disk + "/unzip.exe", pki + "/unzip.exe.sig"), 0);
  const std::string unzip_before = Slurp(unsigned_disk + "/unzip.exe");
  const std::string param = Slurp(unsigned_disk + "/zorparam.ini");
  const std::string launcher = Slurp(unsigned_disk + "/setup.exe");
  struct Refusal {
    std::string signature, says;
    std::function<void()> change, undo;
  };
  const auto nothing = [] {};
  const auto add_line = [&] { Spit(unsigned_disk + "/zorparam.ini", param + "EXTRA=1\n"); };
  const auto restore = [&] {
    Spit(unsigned_disk + "/zorparam.ini", param);
    Spit(unsigned_disk + "/setup.exe", launcher);
    fs::remove(unsigned_disk + "/planted.jar");
  };
  for (const Refusal& row : std::vector<Refusal>{
           {pki + "/other.sig", "the hash does not match", nothing, nothing},
           {pki + "/typed.sig", "where an Authenticode signature declares SpcIndirectData", nothing,
            nothing},
           {pki + "/unzip.exe.sig", "zorparam.ini was changed", add_line, restore},
           {pki + "/unzip.exe.sig", "planted.jar is not listed",
            [&] { Spit(unsigned_disk + "/planted.jar", "x"); }, restore},
           {pki + "/unzip.exe.sig", "setup.exe is not the launcher the build made",
            [&] { Spit(unsigned_disk + "/setup.exe", launcher + "x"); }, restore}}) {
    SCOPED_TRACE(row.says);
    row.change();
    RunResult refused = attach(row.signature);
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_NE(refused.err.find(row.says), std::string::npos) << refused.err;
    EXPECT_EQ(Slurp(unsigned_disk + "/unzip.exe"), unzip_before);
    EXPECT_TRUE(fs::exists(out + ".to-sign/unzip.exe.der"));
    row.undo();
  }
  // The unzip's signature, then the launcher's: refused while the medium differs from what
  // the build made, taken once it is as made again.
  for (const char* program : {"unzip.exe", "setup.exe"}) {
    SCOPED_TRACE(program);
    ASSERT_TRUE(fs::exists(out + ".to-sign/" + program + ".der"));
    EXPECT_FALSE(fs::exists(out));  // never in place half-signed
    const std::string signature = pki + "/" + program + ".sig";
    ASSERT_EQ(service(unsigned_disk + "/" + program, signature), 0);
    if (std::string(program) == "setup.exe") {
      add_line();
      RunResult refused = attach(signature);
      EXPECT_EQ(refused.status, 2) << refused.err;
      EXPECT_NE(refused.err.find("zorparam.ini was changed"), std::string::npos) << refused.err;
      EXPECT_FALSE(fs::exists(out));
      Spit(unsigned_disk + "/zorparam.ini", param);
    }
    RunResult attached = attach(signature);
    ASSERT_EQ(attached.status, 0) << attached.err;
  }
  EXPECT_FALSE(fs::exists(out + ".unsigned"));
  EXPECT_FALSE(fs::exists(out + ".to-sign"));
  RunResult checked = RunBuilt(
      BuiltTargets()[0], "zorvex-medium",
      {"check", out + "/Disk1", "--signatures", "--ca-file", pki + "/ca.pem"}, medium_.root);
  EXPECT_EQ(checked.status, 0) << checked.out;
  for (const char* program : {"setup.exe", "unzip.exe"}) {
    EXPECT_NE(checked.out.find(std::string(program) + " is signed by /CN=Zorvex Service Signer"),
              std::string::npos)
        << checked.out;
  }
  checked = Check(out + "/Disk1");  // the manifest and the bill follow the signed unzip
  EXPECT_EQ(checked.status, 0) << checked.out;
  // Without a CA file the launcher's signer must be the unzip's: another self-signed signer
  // is refused, the same one taken.
  ASSERT_EQ(std::system(("cd '" + pki +
                         "' && for n in one two; do openssl req -x509 -newkey rsa:2048 -nodes "
                         "-keyout $n.key -out $n.pem -days 30 -subj \"/CN=Zorvex $n\" -addext "
                         "extendedKeyUsage=codeSigning >/dev/null 2>&1 || exit 1; done")
                            .c_str()),
            0);
  fs::remove_all(out);
  ASSERT_EQ(Build(out, {"--sign-detached"}).status, 0);
  ASSERT_EQ(service(unsigned_disk + "/unzip.exe", pki + "/one-unzip.sig", "one.pem", "one.key"), 0);
  ASSERT_EQ(attach(pki + "/one-unzip.sig", false).status, 0);
  ASSERT_EQ(service(unsigned_disk + "/setup.exe", pki + "/two.sig", "two.pem", "two.key"), 0);
  RunResult mixed = attach(pki + "/two.sig", false);
  EXPECT_EQ(mixed.status, 2) << mixed.err;
  EXPECT_NE(mixed.err.find("its signer is not the one that signed unzip.exe"), std::string::npos)
      << mixed.err;
  EXPECT_FALSE(fs::exists(out));
  ASSERT_EQ(service(unsigned_disk + "/setup.exe", pki + "/one.sig", "one.pem", "one.key"), 0);
  EXPECT_EQ(attach(pki + "/one.sig", false).status, 0);
}

// A key that never leaves its token (SoftHSM2 here, as a USB token or an HSM is reached):
// the medium's programs are signed through PKCS#11 and verify; the PIN, given in the
// environment, stands in no process's arguments while signing and in no file afterwards;
// a wrong PIN, a key not in the token and a PIN put into a URI fail the build, leaving
// nothing.
TEST_P(MediumToolTest, SignedWithAKeyInAToken) {
  if (!GetParam().windows) GTEST_SKIP() << "Authenticode is Windows'";
  const std::string module = "/usr/lib/softhsm/libsofthsm2.so";
  if (std::system("command -v osslsigncode >/dev/null && command -v pkcs11-tool >/dev/null && "
                  "command -v softhsm2-util >/dev/null") != 0 ||
      !fs::exists(module)) {
    GTEST_SKIP() << "softhsm2, opensc and osslsigncode are needed (scripts/install-deps.sh)";
  }
  const std::string hsm = medium_.root + "/hsm", pin = "731953";
  fs::create_directories(hsm + "/tokens");
  Spit(hsm + "/softhsm2.conf", "directories.tokendir = " + hsm + "/tokens\n");
  const std::string key = "pkcs11:token=zorvex;object=signer;type=private";
  ASSERT_EQ(std::system(("cd '" + hsm + "' && export SOFTHSM2_CONF='" + hsm +
                         "/softhsm2.conf' && softhsm2-util --init-token --free --label zorvex "
                         "--pin " +
                         pin + " --so-pin 24680 && pkcs11-tool --module " + module +
                         " --token-label zorvex --login --pin " + pin +
                         " --keypairgen --key-type rsa:2048 --id 01 --label signer && openssl "
                         "req -new -x509 -engine pkcs11 -keyform engine -key '" +
                         key + ";pin-value=" + pin +
                         "' -subj '/CN=Zorvex Token Signer' -days 30 -out token.pem -addext "
                         "extendedKeyUsage=codeSigning >/dev/null 2>&1")
                            .c_str()),
            0);
  const Env env = {{"SOFTHSM2_CONF", hsm + "/softhsm2.conf"}, {"ZORVEX_SIGN_PASSWORD", pin}};
  const std::vector<std::string> token = {
      "--sign-pkcs11-module", module, "--sign-key", key, "--sign-cert", hsm + "/token.pem"};
  // Every process's arguments, read over and over while the build signs.
  std::atomic<bool> building{true};
  std::atomic<int> seen{0};
  std::thread watch([&] {
    while (building) {
      for (const auto& p : fs::directory_iterator("/proc")) {
        const std::string cmdline = Slurp(p.path().string() + "/cmdline");
        if (cmdline.find(pin) != std::string::npos) ++seen;
      }
    }
  });
  const std::string out = medium_.root + "/token";
  RunResult built =
      RunBuilt(BuiltTargets()[0], "zorvex-medium", BuildArgs(out, token), medium_.root, env);
  building = false;
  watch.join();
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(seen, 0) << "the PIN stood in a process's arguments";
  for (const char* program : {"setup.exe", "unzip.exe"}) {
    EXPECT_EQ(std::system(("osslsigncode verify -in '" + out + "/Disk1/" + program + "' -CAfile '" +
                           hsm + "/token.pem' 2>&1 | grep -q 'verification: ok'")
                              .c_str()),
              0)
        << program;
  }
  RunResult checked = RunBuilt(
      BuiltTargets()[0], "zorvex-medium",
      {"check", out + "/Disk1", "--signatures", "--ca-file", hsm + "/token.pem"}, medium_.root);
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("setup.exe is signed by /CN=Zorvex Token Signer"), std::string::npos)
      << checked.out;
  for (const auto& e : fs::recursive_directory_iterator(medium_.root)) {
    if (e.is_regular_file() && e.path().string().rfind(hsm, 0) != 0) {
      EXPECT_EQ(Slurp(e.path()).find(pin), std::string::npos) << e.path();
    }
  }
  // Builds killed while a signer works in the token, at moments spread over its work,
  // leave the token as it was: after each, once the signer has finished, the key is in it.
  std::vector<std::string> args = {BuiltTargets()[0].build_dir + "/zorvex-medium"};
  for (const std::string& a : BuildArgs(medium_.root + "/killed", token)) args.push_back(a);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = {"PATH=" + std::string(getenv("PATH")),
                                       "SOFTHSM2_CONF=" + hsm + "/softhsm2.conf",
                                       "ZORVEX_SIGN_PASSWORD=" + pin};
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  auto signers = [&] {
    int n = 0;
    for (const auto& p : fs::directory_iterator("/proc")) {
      if (Slurp(p.path().string() + "/cmdline").find(medium_.root + "/killed") !=
          std::string::npos) {
        ++n;
      }
    }
    return n;
  };
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("killed " + std::to_string(3 * round) + " ms into signing");
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
    bool ended = false;
    while (!ended && signers() == 0) ended = waitpid(pid, nullptr, WNOHANG) == pid;
    ASSERT_FALSE(ended) << "the build ended before it signed";
    usleep(3000 * round);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    for (int i = 0; i < 500 && signers() > 0; ++i) usleep(20000);
    EXPECT_EQ(signers(), 0) << "a signer never ended";
    EXPECT_EQ(std::system(("SOFTHSM2_CONF='" + hsm + "/softhsm2.conf' pkcs11-tool --module " +
                           module + " --token-label zorvex --login --pin " + pin +
                           " --list-objects --type privkey 2>/dev/null | grep -q signer")
                              .c_str()),
              0)
        << "the token lost its key";
  }
  // Refused: a wrong PIN, a key the token lacks, a PIN in a URI.
  std::vector<std::string> missing = token;
  missing[3] = "pkcs11:token=zorvex;object=nobody;type=private";
  std::vector<std::string> in_uri = token;
  in_uri[3] = key + ";pin-value=" + pin;
  struct Row {
    std::vector<std::string> options;
    std::string pin, says;
  };
  for (const Row& row : std::vector<Row>{
           {token, "000000", "PIN incorrect"},
           {missing, pin, "cannot sign"},
           {in_uri, pin, "a PIN in a PKCS#11 URI"},
           {{"--gpg-key", "release@example.invalid"}, pin, "--gpg-key signs a Linux medium"}}) {
    SCOPED_TRACE(row.says);
    Env with = env;
    with["ZORVEX_SIGN_PASSWORD"] = row.pin;
    RunResult failed =
        RunBuilt(BuiltTargets()[0], "zorvex-medium",
                 BuildArgs(medium_.root + "/failed", row.options), medium_.root, with);
    EXPECT_EQ(failed.status, 2) << failed.err;
    EXPECT_NE(failed.err.find(row.says), std::string::npos) << failed.err;
    EXPECT_FALSE(fs::exists(medium_.root + "/failed"));
    EXPECT_FALSE(fs::exists(medium_.root + "/failed.building"));
  }
}

// but the log. The same medium with a launcher that carries no manifest runs as before.
TEST_P(MediumToolTest, VerifiedMediumRefusesWhatItDoesNotList) {
  const bool windows = GetParam().windows;
  const std::string pristine = medium_.root + "/verified";
  ASSERT_EQ(Build(pristine).status, 0);
  const std::string exe = windows ? ".exe" : "";
  const std::string data = "/stage/Components/zorvex.swd.zek/1.0.0.0.0/1/DataFiles/";
  auto flip = [](const std::string& path) {
    std::string bytes = Slurp(path);
    bytes[bytes.size() / 2] ^= 0x20;
    Spit(path, bytes);
  };
  auto plant = [](const std::string& from, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(from, to);
  };
  struct Row {
    std::string what;
    std::function<void(const std::string& medium)> change;
    std::string named;     // the file the refusal names
    bool planning = true;  // refused before anything is unpacked
    Env env = {};
  };
  const std::vector<Row> rows = {
      {"nothing changed", [](const std::string&) {}, ""},
      {"the parameter file", [&](const std::string& m) { flip(m + "/Disk1/zorparam.ini"); },
       "zorparam.ini is not the file its manifest lists"},
      {"a catalogue", [&](const std::string& m) { flip(m + "/Disk1/resource/cons.nls"); },
       "cons.nls is not the file its manifest lists"},
      {"the unzip", [&](const std::string& m) { flip(m + "/Disk1/unzip" + exe); },
       "unzip" + exe + " is not the file its manifest lists"},
      // Found by the launcher itself (the byte lies in the jar's directory), before it reads
      // the directory for its plans.
      {"a component jar", [&](const std::string& m) { flip(m + data + "zorvex.swd.zek.jar"); },
       "zorvex.swd.zek.jar is not the file its manifest lists (its central directory is not the "
       "one listed)"},
      {"a jar beside its listed name in another letter case",
       [&](const std::string& m) {
         plant(m + data + "zorvex.swd.zek.jar", m + data + "Zorvex.swd.zek.jar");
       },
       "Zorvex.swd.zek.jar is not listed in its manifest"},
      // The places the launcher looks on its own beside its directory are the medium's.
      {"the parameter file moved beside the launcher's directory",
       [&](const std::string& m) {
         Spit(m + "/zorparam.ini",
              Slurp(m + "/Disk1/zorparam.ini") + "JRE_MEMORY_OPTIONS=-Dplanted=1\n");
         fs::remove(m + "/Disk1/zorparam.ini");
       },
       "zorparam.ini, which its manifest lists, is missing"},
      {"an images directory beside the launcher's directory",
       [&](const std::string& m) { Spit(m + "/images/Planted.class", "class"); },
       "Planted.class is not listed in its manifest", false},
      {"a jar where Java's class path looks on the medium",
       [&](const std::string& m) {
         Spit(m + "/stage/Components/zorvex.swd.zpatch/0.0.0.0.0/1/DataFiles/jlib/zpatch.jar",
              "jar");
       },
       "zpatch.jar is not listed in its manifest", false},
      {"a planted jar",
       [&](const std::string& m) {
         plant(m + data + "zorvex.swd.zek.jar", m + data + "planted.jar");
       },
       "planted.jar is not listed in its manifest"},
      {"a higher version of a component",
       [&](const std::string& m) {
         plant(m + data + "zorvex.swd.zek.jar",
               m + "/stage/Components/zorvex.swd.zek/9.0.0.0.0/1/DataFiles/zorvex.swd.zek.jar");
       },
       "zorvex.swd.zek.jar is not listed in its manifest"},
      // Without the refusal the run would take the next catalogue, the base one, and go on.
      {"the user's catalogue missing",
       [&](const std::string& m) { fs::remove(m + "/Disk1/resource/cons_de.nls"); },
       "cons_de.nls, which its manifest lists, is missing",
       true,
       {{"LANG", "de_DE.UTF-8"}}},
      {"a listed jar missing",
       [&](const std::string& m) { fs::remove(m + data + "zorvex.swd.zek.jar"); },
       "zorvex.swd.zek.jar, which its manifest lists, is missing"},
      {"the manifest", [&](const std::string& m) { flip(m + "/Disk1/zormanifest.txt"); },
       "zormanifest.txt is not the file its manifest lists"},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.what);
    const std::string copy = medium_.root + "/row" + std::to_string(i);
    fs::copy(pristine, copy, fs::copy_options::recursive);
    row.change(copy);
    medium_.medium_dir = copy + "/Disk1";
    const size_t before = medium_.JavaRuns().size();
    Env env = row.env;
    env.insert(kStillRunning.begin(), kStillRunning.end());
    RunResult r = medium_.Run({"-silent", "-noconsole"}, env);
    std::vector<std::string> left = medium_.TempEntries();
    if (row.named.empty()) {
      EXPECT_EQ(r.status, 259 & 0xFF) << r.out << r.err;
      EXPECT_EQ(medium_.WaitForJavaRuns(before + 1, 20000).size(), before + 1) << r.out;
    } else {
      EXPECT_EQ(r.status, 255) << r.out << r.err;
      EXPECT_NE(r.out.find(row.named), std::string::npos) << r.out;
      EXPECT_EQ(medium_.JavaRuns().size(), before);
      ASSERT_EQ(left.size(), 1u) << r.out;  // the log, kept; nothing staged
      const std::string log = medium_.ReadFile(medium_.temp_dir + "/" + left[0]);
      EXPECT_NE(log.find(row.named), std::string::npos);
      // Refused while the run plans, before its unzip has unpacked anything.
      if (row.planning) {
        EXPECT_EQ(log.find("Unpacking with"), std::string::npos) << log;
      }
    }
    for (const std::string& e : left) fs::remove_all(medium_.temp_dir + "/" + e);
  }
  // A deep TEMP: the unzip's checked copy in the scratch directory is started by a name
  // that Windows runs at any depth.
  std::string deep = medium_.root + "/t";
  while (medium_.TargetPath(deep).size() < 230) deep += "/" + std::string(40, 'd');
  fs::create_directories(deep);
  medium_.medium_dir = pristine + "/Disk1";
  RunResult deep_run = medium_.Run({"-silent", "-noconsole", "-waitForCompletion"},
                                   {{"TEMP", medium_.TargetPath(deep)}});
  EXPECT_EQ(deep_run.status, 0) << deep_run.out << deep_run.err;
  EXPECT_TRUE(fs::is_empty(deep)) << deep_run.out;
  fs::remove(medium_.record_file);
  // The launcher straight from the build carries no manifest: the changed medium runs as
  // before, and the log says that nothing was verified.
  const auto planted = std::find_if(rows.begin(), rows.end(),
                                    [](const Row& row) { return row.what == "a planted jar"; });
  const std::string unverified =
      medium_.root + "/row" + std::to_string(std::distance(rows.begin(), planted));
  fs::copy_file(GetParam().build_dir + "/setup" + exe, unverified + "/Disk1/setup" + exe,
                fs::copy_options::overwrite_existing);
  medium_.medium_dir = unverified + "/Disk1";
  const size_t before = medium_.JavaRuns().size();
  RunResult r = medium_.Run({"-silent", "-noconsole"}, kStillRunning);
  EXPECT_EQ(r.status, 259 & 0xFF) << r.out << r.err;
  EXPECT_EQ(medium_.WaitForJavaRuns(before + 1, 20000).size(), before + 1) << r.out;
  std::string logs;
  for (const auto& e : fs::recursive_directory_iterator(medium_.temp_dir)) {
    if (e.path().extension() == ".log") logs += medium_.ReadFile(e.path().string());
  }
  EXPECT_NE(logs.find("The medium's files are not verified"), std::string::npos) << logs;

  // A plain medium runs Java on the medium itself: it is checked whole before Java starts.
  const std::string plain = medium_.root + "/plain";
  ASSERT_EQ(Build(plain, {"--layout", "plain"}).status, 0);
  medium_.medium_dir = plain;
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;  // started in place, and waited for
  EXPECT_EQ(medium_.JavaRuns().size(), before + 2) << r.out;
  flip(plain + "/jre/release");
  const size_t runs = medium_.JavaRuns().size();
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("release is not the file its manifest lists"), std::string::npos) << r.out;
  EXPECT_EQ(medium_.JavaRuns().size(), runs);
  if (!GetParam().windows) {
    // A pipe in a listed file's place is refused, never opened: reading it would wait for
    // a writer for ever.
    fs::remove(plain + "/jre/release");
    ASSERT_EQ(mkfifo((plain + "/jre/release").c_str(), 0600), 0);
    r = medium_.Run({"-silent", "-noconsole"});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("release, which its manifest lists, is missing"), std::string::npos)
        << r.out;
    EXPECT_EQ(medium_.JavaRuns().size(), runs);
  }
  // A plain medium that stages copies its trees: a file planted in one (no jar, which an
  // earlier check would refuse) is refused by the copy itself, and nothing of it is staged.
  const std::string staged = medium_.root + "/staged-plain";
  ASSERT_EQ(Build(staged, {"--layout", "plain", "--set", "BOOTSTRAP=TRUE", "--set",
                           "WAIT_FOR_COMPLETION=TRUE"})
                .status,
            0);
  medium_.medium_dir = staged;
  Spit(staged + "/jre/lib/planted.properties", "x=1");
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("planted.properties is not listed in its manifest"), std::string::npos)
      << r.out;
  EXPECT_EQ(medium_.JavaRuns().size(), runs);
  fs::remove(staged + "/jre/lib/planted.properties");
  // A listed file changed is refused by the copy, which checks the bytes it staged (the
  // system's copy, a clone where the file system shares blocks, read back).
  flip(staged + "/jre/release");
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("release is not the file its manifest lists"), std::string::npos) << r.out;
  EXPECT_EQ(medium_.JavaRuns().size(), runs);
  flip(staged + "/jre/release");
  r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(medium_.JavaRuns().size(), runs + 1);

  // A core that cannot be unpacked (another component left a directory where its jar goes,
  // as a TEMP filled meanwhile would fail it) ends a verified run: Java would otherwise take
  // the medium's core, which nobody checks once Java reads it. Without a manifest the run
  // goes on, as it always has.
  Spit(Input("blocker/zek/jlib/zorcore.jar/keep"), "x");
  const std::string blocked = medium_.root + "/blocked";
  ASSERT_EQ(Build(blocked, {"--component", "blocker:1.0:" + Input("blocker")}).status, 0);
  medium_.medium_dir = blocked + "/Disk1";
  r = medium_.Run({"-silent", "-noconsole", "-waitForCompletion"});
  EXPECT_EQ(r.status, 255) << r.out << r.err;
  EXPECT_NE(r.out.find("zorvex.swd.zek.core"), std::string::npos) << r.out;
  EXPECT_EQ(medium_.JavaRuns().size(), runs + 1);
  fs::copy_file(GetParam().build_dir + "/setup" + exe, blocked + "/Disk1/setup" + exe,
                fs::copy_options::overwrite_existing);
  r = medium_.Run({"-silent", "-noconsole", "-waitForCompletion"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(medium_.JavaRuns().size(), runs + 2);
}

// The medium's border is drawn from the launcher's own place before any option is read: an
// option that names a place to write on the medium or holding it is refused, and a path the
// user names leaves a file planted on the medium judged. The side ends at the root of the
// file system or drive the medium lies on: one level below it, a medium runs with a runtime
// outside it as it does placed deeper.
TEST_P(MediumToolTest, TheMediumsBorderStaysWhereItIs) {
  // The runtime lies outside the medium's side, which reaches two levels up.
  const std::string border = medium_.root + "/border/cd", plain = border + "/prod";
  ASSERT_EQ(Build(plain, {"--layout", "plain", "--set", "BOOTSTRAP=TRUE", "--set",
                          "WAIT_FOR_COMPLETION=TRUE", "--set",
                          "JRE_LOCATION=" + medium_.TargetPath(medium_.jre_dir)})
                .status,
            0);
  medium_.medium_dir = plain;
  Spit(plain + "/jlib/zorutil.jar", "planted");
  const std::string unlisted = "zorutil.jar is not listed in its manifest";
  const std::string on_medium = "lies on the installation medium or holds it";
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{}, unlisted},
      {{"-rstartupLoc", medium_.TargetPath(plain)}, unlisted},
      {{"-PREREQLOGLOC", medium_.TargetPath(border)}, on_medium},
      {{"-rscratchPath", medium_.TargetPath(border)}, on_medium}};
  for (const auto& [options, refusal] : rows) {
    SCOPED_TRACE(options.empty() ? "plain run" : options[0]);
    std::vector<std::string> args = {"-silent", "-noconsole"};
    args.insert(args.end(), options.begin(), options.end());
    RunResult r = medium_.Run(args);
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find(refusal), std::string::npos) << r.out;
    EXPECT_TRUE(medium_.JavaRuns().empty());
  }
  fs::remove(plain + "/jlib/zorutil.jar");
  // One level below a file system's root (a drive's under Wine), and deep below it.
  const std::string mnt = medium_.root + "/mnt";
  fs::create_directories(mnt);
  const std::string drive = NativeBuild() + "/blackbox-wineprefix/dosdevices/y:";
  bool mounted = false;
  if (GetParam().windows) {
    fs::remove(drive);
    fs::create_directory_symlink(mnt, drive);
    medium_.drives[mnt] = "Y:";
  } else {
    mounted = ::geteuid() == 0 && ::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "mode=0700") == 0;
  }
  for (const std::string& place : {medium_.root + "/deep/a/b/c/prod", mnt + "/prod"}) {
    if (place.rfind(mnt, 0) == 0 && !mounted && !GetParam().windows) continue;
    SCOPED_TRACE(place);
    fs::create_directories(place);
    fs::copy(plain, place, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    medium_.medium_dir = place;
    const size_t runs = medium_.JavaRuns().size();
    RunResult r = medium_.Run({"-silent", "-noconsole"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(medium_.JavaRuns().size(), runs + 1);
  }
  if (GetParam().windows) fs::remove(drive);
  if (mounted) ::umount(mnt.c_str());
}

// A plain medium's trees are copied as jars are unpacked: every file the manifest lists
// below a copied tree must arrive, or the run ends naming it before Java starts (a file
// deleted, or a pipe put in its place, which the copy leaves out).
TEST_P(MediumToolTest, CopiedTreesHoldEveryListedFile) {
  const std::string plain = medium_.root + "/plain";
  ASSERT_EQ(Build(plain, {"--layout", "plain", "--set", "BOOTSTRAP=TRUE", "--set",
                          "WAIT_FOR_COMPLETION=TRUE"})
                .status,
            0);
  medium_.medium_dir = plain;
  // The check shows Java's command line as the staging leaves it: the scratch directory's
  // placeholder, never a path below the medium.
  RunResult checked = Check(plain);
  EXPECT_NE(checked.out.find("<TEMP>"), std::string::npos) << checked.out;
  EXPECT_EQ(
      checked.out.find(medium_.TargetPath(plain) + (GetParam().windows ? "\\" : "/") + "<TEMP>"),
      std::string::npos)
      << checked.out;
  for (const std::string& listed : {std::string("jlib/zorcore.jar"), std::string("jre/release")}) {
    for (const bool pipe : {false, true}) {
      if (pipe && GetParam().windows) continue;
      SCOPED_TRACE(listed + (pipe ? " a pipe" : " deleted"));
      const std::string path = plain + "/" + listed, kept = medium_.root + "/kept";
      fs::rename(path, kept);
      if (pipe) {
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
      }
      RunResult r = medium_.Run({"-silent", "-noconsole"});
      EXPECT_EQ(r.status, 255) << r.out << r.err;
      EXPECT_NE(r.out.find(fs::path(listed).filename().string() +
                           ", which its manifest lists, is missing"),
                std::string::npos)
          << r.out;
      EXPECT_TRUE(medium_.JavaRuns().empty());
      EXPECT_EQ(medium_.TempEntries().size(), 1u);  // the log, kept; nothing staged
      for (const std::string& e : medium_.TempEntries()) fs::remove_all(medium_.temp_dir + "/" + e);
      fs::remove(path);
      fs::rename(kept, path);
    }
  }
}

// The check reports each difference between a medium and its manifest, in text and JSON.
TEST_F(NativeMediumToolTest, CheckReportsEachDifferenceFromTheManifest) {
  const std::string out = medium_.root + "/changed";
  ASSERT_EQ(Build(out).status, 0);
  RunResult r = Check(out + "/Disk1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("is as listed, and nothing else is on the medium"), std::string::npos);
  Spit(out + "/Disk1/zorparam.ini", Slurp(out + "/Disk1/zorparam.ini") + "X=1\n");
  fs::remove(out + "/Disk1/resource/cons_fr.nls");
  Spit(out + "/stage/Components/zorvex.swd.zek/1.0.0.0.0/1/DataFiles/planted.jar", "PK");
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--json"}}) {
    r = Check(out + "/Disk1", options);
    EXPECT_EQ(r.status, 2) << r.out;
    for (const char* finding : {"zorparam.ini was changed: ", "resource/cons_fr.nls is missing",
                                "DataFiles/planted.jar is not listed in the manifest"}) {
      EXPECT_NE(r.out.find(finding), std::string::npos) << finding << "\n" << r.out;
    }
  }
  Spit(out + "/Disk1/zormanifest.txt", Slurp(out + "/Disk1/zormanifest.txt") + "\n");
  r = Check(out + "/Disk1");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("zormanifest.txt was changed"), std::string::npos) << r.out;
}

TEST_F(NativeMediumToolTest, CheckFindsPlantedMistakes) {
  const std::string clean = medium_.root + "/clean";
  ASSERT_EQ(Build(clean).status, 0);
  // Hand-edited, as a medium of a launcher that carries no manifest is.
  fs::copy_file(BuiltTargets()[0].build_dir + "/setup", clean + "/Disk1/setup",
                fs::copy_options::overwrite_existing);
  fs::remove(clean + "/Disk1/zormanifest.txt");
  auto append = [](const std::string& text) {
    return [text](const std::string& disk) {
      Spit(disk + "/zorparam.ini", Slurp(disk + "/zorparam.ini") + text);
    };
  };
  auto edit_catalogue = [](const std::string& name, const std::string& from,
                           const std::string& to) {
    return [=](const std::string& disk) {
      std::string bytes = Slurp(disk + "/resource/" + name);
      size_t at = bytes.find(from);
      if (at != std::string::npos) bytes.replace(at, from.size(), to);
      Spit(disk + "/resource/" + name, bytes);
    };
  };
  struct Row {
    std::string mistake;
    std::function<void(const std::string& disk)> plant;
    int status;
    std::string finding;
    std::vector<std::string> options = {};
  };
  const std::vector<Row> rows = {
      {"misspelt key", append("WAIT_FOR_COMPLETON=TRUE\n"), 1,
       "Unknown key WAIT_FOR_COMPLETON is not read: did you mean WAIT_FOR_COMPLETION?"},
      {"lower-case boolean", append("USEJREONLY=true\n"), 1,
       "USEJREONLY=true reads as false: only exactly TRUE counts."},
      {"number with a unit", append("BOOTSTRAP_SIZE=52MB\n"), 1,
       "BOOTSTRAP_SIZE=52MB reads as 52: the text after the number is ignored."},
      {"size out of range", append("BOOTSTRAP_SIZE=4096\n"), 2,
       "BOOTSTRAP_SIZE must lie from 0 to 2047"},
      {"relative path that does not exist", append("PREREQ_CONFIG_LOCATION=prereq\n"), 1,
       "PREREQ_CONFIG_LOCATION=prereq does not exist."},
      {"missing component",
       [](const std::string& disk) {
         fs::remove_all(disk + "/../stage/Components/zorvex.swd.zek");
       },
       2,
       "zorvex.swd.zek: no jar in ../stage/Components/zorvex.swd.zek/0.0.0.0.0/1/DataFiles (no "
       "version directory)"},
      {"runtime without bin/java",
       [](const std::string& disk) {
         const std::string jar =
             disk + "/../stage/Components/zorvex.swd.jre/17.0.2/1/DataFiles/zorvex.swd.jre.jar";
         EXPECT_EQ(std::system(("zip -qd '" + jar + "' 'jre/17.0.2/bin/java'").c_str()), 0);
       },
       2, "The runtime's jars hold no jre/<name>/bin/java: Java cannot start."},
      {"conversion that does not fit", edit_catalogue("cons_de.nls", "%d KB", "%s KB"), 1,
       "cons_de.nls: the text of S_ERBOOTSTRAP_SPACE does not fit the launcher's arguments"},
      {"missing translation", edit_catalogue("cons_fr.nls", "S_BOOTSTRAPMSG=", "S_BOOTSTRAPMSX="),
       1, "cons_fr.nls lacks S_BOOTSTRAPMSG: the base text is shown"},
      {"blank in the certified list", append("[Certified Versions]\nLinux=5.10, 6.1\n"), 1,
       "Linux=5.10, 6.1: a version after \", \" begins with a blank and never matches."},
      {"no parameter file", [](const std::string& disk) { fs::remove(disk + "/zorparam.ini"); }, 2,
       "No zorparam.ini beside the launcher or above it"},
      {"a check this machine fails",
       append("[Generic Prereqs]\nCPU=99999999\n"),
       1,
       "Generic prerequisites fail here",
       {"--probe"}},
      {"a value read by its first letter",
       append("WAIT_FOR_COMPLETION=Talways\n"),
       0,
       "{\"key\": \"WAIT_FOR_COMPLETION\", \"value\": \"T\", \"source\": \"file\"}",
       {"--json"}},
      {"quotes in a finding",
       append("BOOT\"STRAP\\=1\n"),
       1,
       "\"message\": \"Unknown key BOOT\\\"STRAP\\\\ is not read: did you mean BOOTSTRAP?\"",
       {"--json"}},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.mistake);
    const std::string copy = medium_.root + "/planted" + std::to_string(i);
    fs::copy(clean, copy, fs::copy_options::recursive);
    row.plant(copy + "/Disk1");
    const std::string before = Fingerprint(copy);
    RunResult r = Check(copy + "/Disk1", row.options);
    EXPECT_EQ(r.status, row.status) << r.out << r.err;
    EXPECT_NE(r.out.find(row.finding), std::string::npos) << r.out;
    EXPECT_EQ(Fingerprint(copy), before);  // the check writes nothing
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, MediumToolTest, ::testing::ValuesIn(BuiltTargets()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace zorvex::blackbox
