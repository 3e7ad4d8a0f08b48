// Black-box tests of the medium's unzip against Info-ZIP's: archives made here with `zip`
// and `jar` unpack to identical trees (names, bytes, modes, links); hostile archives get
// a refusal at least as safe; under Wine, unzip.exe unpacks them to the same names and
// bytes, non-ASCII names included.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>

#include "blackbox/harness.h"
#include "zip_bytes.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

const std::string kNative = NativeBuild() + "/unzip";
const std::string kWindows = std::string(ZORVEX_WINDOWS_BUILD) + "/unzip.exe";

// Runs a shell command with nothing on standard input, so that no program waits for a key,
// in a UTF-8 locale, in which Info-ZIP's programs keep non-ASCII names as they are.
int Shell(const std::string& command) {
  int status = std::system(("(export LC_ALL=C.UTF-8; " + command + ") < /dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

// What a tree holds: per path, its kind and mode, its link target or its bytes.
std::map<std::string, std::string> Tree(const std::string& root, bool modes = true) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& p = it->path();
    struct stat st;
    lstat(p.c_str(), &st);
    std::string what = modes ? std::to_string(st.st_mode & 07777) + " " : "";
    if (S_ISLNK(st.st_mode)) {
      what += "link " + fs::read_symlink(p).string();
    } else if (S_ISDIR(st.st_mode)) {
      what += "dir";
    } else {
      std::ifstream in(p, std::ios::binary);
      std::string bytes(std::istreambuf_iterator<char>(in), {});
      // Size and hash: a difference shows without printing the whole file.
      what += "file " + std::to_string(bytes.size()) + " " +
              std::to_string(std::hash<std::string>()(bytes));
    }
    tree[fs::relative(p, root).string()] = what;
  }
  return tree;
}

class UnzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zorvex_unzip_XXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  void TearDown() override { fs::remove_all(root_); }
  // A source tree with what installers hold: text, an empty file, an executable, a
  // private file, nested and empty directories, a link, non-ASCII names, a large file.
  std::string MakeSource() {
    std::string src = root_ + "/src";
    fs::create_directories(src + "/bin");
    fs::create_directories(src + "/lib/deep/er");
    fs::create_directories(src + "/empty");
    fs::create_directories(src + "/priv");
    std::ofstream(src + "/a.txt") << "hello\n";
    std::ofstream(src + "/empty.txt");
    std::ofstream(src + "/bin/java") << "#!/bin/sh\necho java\n";
    chmod((src + "/bin/java").c_str(), 0755);
    std::ofstream(src + "/priv/key") << "secret";
    chmod((src + "/priv/key").c_str(), 0600);
    chmod((src + "/priv").c_str(), 0700);
    std::ofstream(src + "/lib/deep/er/\xC3\xA4\xE6\x97\xA5.txt") << "unicode";
    std::ofstream big(src + "/lib/big.dat", std::ios::binary);
    for (int i = 0; i < 200000; ++i) big << "line " << i * 7919 % 10007 << "\n";
    big.close();
    fs::create_symlink("../a.txt", src + "/bin/a-link");
    return src;
  }
  std::string root_;
};

bool HaveWine() { return fs::exists(kWindows) && fs::exists(kWine); }

// Runs our unzip, natively or unzip.exe under Wine, on an archive into a destination.
int RunUnzip(bool windows, const std::string& options, const std::string& archive,
             const std::string& dest) {
  if (!windows)
    return Shell(Q(kNative) + " " + options + " " + Q(archive) + " -d " + Q(dest) + " 2>/dev/null");
  auto z = [](std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return Q("Z:" + path);
  };
  return Shell("WINEPREFIX=" + Q(NativeBuild() + "/blackbox-wineprefix") +
               " WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= " + kWine + " " + Q(kWindows) +
               " " + options + " " + z(archive) + " -d " + z(dest) + " 2>/dev/null");
}

TEST_F(UnzipTest, SameTreesAsInfoZip) {
  std::string src = MakeSource();
  const std::string c = "cd " + Q(src) + " && ";
  const std::map<std::string, std::string> archives = {
      {"deflated.zip", c + "zip -qry ../deflated.zip ."},
      {"stored.zip", c + "zip -qry0 ../stored.zip ."},
      {"streamed.zip", c + "zip -qr - . | cat > ../streamed.zip"},  // data descriptors
      {"made.jar", c + "jar cf ../made.jar ."},  // UTF-8 names, descriptors, no modes
  };
  for (const auto& [name, make] : archives) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Shell(make), 0);
    const std::string archive = root_ + "/" + name;
    const std::string ours = root_ + "/ours-" + name, theirs = root_ + "/theirs-" + name;
    EXPECT_EQ(Shell(Q(kNative) + " -qqqo " + Q(archive) + " -d " + Q(ours)), 0);
    EXPECT_EQ(Shell("unzip -qqqo " + Q(archive) + " -d " + Q(theirs)), 0);
    // The same entries and bytes; the modes are the unzip's own (below).
    std::map<std::string, std::string> our_tree = Tree(ours, false),
                                       their_tree = Tree(theirs, false);
    // Info-ZIP turns the UTF-8 names of archives made on MS-DOS hosts (jar's) through a
    // code page as well, and so mangles them; the name, as written, is checked here.
    const std::string unicode = "lib/deep/er/\xC3\xA4\xE6\x97\xA5.txt";
    EXPECT_EQ(our_tree.count(unicode), 1u);
    if (name == "made.jar") {
      our_tree.erase(unicode);
      std::erase_if(their_tree,
                    [](const auto& kv) { return kv.first.rfind("lib/deep/er/", 0) == 0; });
    }
    EXPECT_EQ(our_tree, their_tree);
    EXPECT_EQ(Shell(Q(kNative) + " -qt " + Q(archive) + " > /dev/null"), 0);
  }
  // What it makes is its user's alone, whatever the archive says or the umask leaves: of an
  // entry's mode only its owner's right to run it is taken.
  for (const auto& [path, what] : Tree(root_ + "/ours-deflated.zip")) {
    if (what.find(" link ") != std::string::npos) continue;
    const bool dir_or_program = what.find(" dir") != std::string::npos || path == "bin/java";
    EXPECT_EQ(what.substr(0, 4), dir_or_program ? "448 " : "384 ") << path;  // 0700, 0600
  }
}

// As the launcher runs it: every jar of a directory, in name order, into one destination.
TEST_F(UnzipTest, WildcardAsTheLauncherGivesIt) {
  std::string src = MakeSource();
  fs::create_directories(root_ + "/jars");
  ASSERT_EQ(Shell("cd " + Q(src) +
                  " && zip -qry ../jars/b.jar lib && zip -qry ../jars/a.jar bin a.txt"
                  " && echo x > ../jars/notes.txt"),
            0);
  const std::string ours = root_ + "/ours", theirs = root_ + "/theirs";
  EXPECT_EQ(Shell(Q(kNative) + " -qqqo " + Q(root_ + "/jars") + "/\"*.jar\" -d " + Q(ours)), 0);
  EXPECT_EQ(
      Shell("unzip -qqqo " + Q(root_ + "/jars") + "/\"*.jar\" -d " + Q(theirs) + " >/dev/null"), 0);
  EXPECT_EQ(Tree(ours, false), Tree(theirs, false));
  EXPECT_EQ(Shell(Q(kNative) + " -qqqo " + Q(root_) + "/\"*.war\" -d " + Q(ours) + " 2>/dev/null"),
            9);
  EXPECT_EQ(Shell(Q(kNative) + " -Z x.zip 2>/dev/null"), 10);

  // The wildcard takes names as they are: "*.jar" never takes "two.jarx" by a short name
  // Windows gives it (TWO~1.JAR).
  fs::create_directories(root_ + "/other");
  std::ofstream(root_ + "/other/planted.txt") << "planted";
  ASSERT_EQ(Shell("cd " + Q(root_ + "/other") + " && zip -q ../jars/two.jarx planted.txt"), 0);
  for (const bool windows : {false, true}) {
    if (windows && !HaveWine()) continue;
    SCOPED_TRACE(windows ? "unzip.exe" : "unzip");
    const std::string out = root_ + (windows ? "/x-win" : "/x-native");
    EXPECT_EQ(RunUnzip(windows, "-qqqo", root_ + "/jars/*.jar", out), 0);
    EXPECT_TRUE(fs::exists(out + "/a.txt"));
    EXPECT_FALSE(fs::exists(out + "/planted.txt"));
    fs::remove_all(out);
  }
  fs::remove(root_ + "/jars/two.jarx");

  // As the launcher runs it on a verified medium: the wildcard must find exactly the jars
  // listed, each of its listed size and SHA-256 (status 12 otherwise); an archive unlisted,
  // missing or of another size is refused before anything is unpacked.
  auto listed = [&](const std::string& jar) {
    std::string sum;
    FILE* p = popen(("sha256sum " + Q(root_ + "/jars/" + jar)).c_str(), "r");
    char line[128] = {};
    if (p != nullptr && fgets(line, sizeof line, p) != nullptr) sum.assign(line, 64);
    if (p != nullptr) pclose(p);
    return " --sha256 " + jar + ":" + std::to_string(fs::file_size(root_ + "/jars/" + jar)) + ":" +
           sum;
  };
  std::string a = listed("a.jar"), b = listed("b.jar");
  std::string wrong_sum = a, wrong_size = a;
  wrong_sum[wrong_sum.size() - 1] = wrong_sum.back() == '0' ? '1' : '0';
  wrong_size.replace(wrong_size.find(':') + 1, 1, "9");
  struct Case {
    std::string what, listing;
    int status;
    bool unpacked;
  };
  const Case cases[] = {
      {"both as listed", a + b, 0, true},
      {"another SHA-256", wrong_sum + b, 12, true},  // told after unpacking alongside
      {"another size", wrong_size + b, 12, false},
      {"an archive not listed", a, 12, false},
      {"a listed archive missing", a + b + " --sha256 c.jar:1:" + std::string(64, '0'), 12, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dest = root_ + "/listed";
    fs::remove_all(dest);
    EXPECT_EQ(Shell(Q(kNative) + " -qqqo " + Q(root_ + "/jars") + "/\"*.jar\" -d " + Q(dest) +
                    c.listing + " 2>/dev/null"),
              c.status);
    EXPECT_EQ(fs::exists(dest + "/a.txt"), c.unpacked);
  }
}

// A large archive listed with the digests of its 4 MiB pieces is checked piece by piece
// (on two threads): a changed byte is refused naming its piece, and digests that do not
// fit the archive's size are refused before anything is unpacked.
TEST_F(UnzipTest, PiecesOfALargeArchiveAreCheckedEach) {
  const std::string dir = root_ + "/jars";
  fs::create_directories(dir);
  ASSERT_EQ(Shell("head -c 9M /dev/urandom > " + Q(root_ + "/big.dat") + " && cd " + Q(root_) +
                  " && zip -q0 jars/big.jar big.dat && sha256sum jars/big.jar > sum && " +
                  "split -b 4194304 jars/big.jar piece. && sha256sum piece.* > pieces"),
            0);
  std::string sum, pieces, piece, name;
  std::ifstream(root_ + "/sum") >> sum;
  for (std::ifstream in(root_ + "/pieces"); in >> piece >> name;) {
    pieces += (pieces.empty() ? "" : ",") + piece;
  }
  ASSERT_EQ(pieces.size(), 3 * 65 - 1u);
  const std::string size = std::to_string(fs::file_size(dir + "/big.jar"));
  auto run = [&](const std::string& chunks) {
    fs::remove_all(root_ + "/out");
    return Shell(Q(kNative) + " -qqqo " + Q(dir) + "/\"*.jar\" -d " + Q(root_ + "/out") +
                 " --sha256 big.jar:" + size + ":" + sum + " --chunks big.jar:" + chunks + " 2>" +
                 Q(root_ + "/err"));
  };
  EXPECT_EQ(run(pieces), 0) << Slurp(root_ + "/err");
  EXPECT_EQ(run(pieces.substr(0, 2 * 65 - 1)), 12);  // two digests for three pieces
  EXPECT_NE(Slurp(root_ + "/err").find("(2) do not fit its"), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ + "/out/big.dat"));
  // One byte of the second piece changed in place, the size kept.
  ASSERT_EQ(Shell("printf x | dd of=" + Q(dir + "/big.jar") +
                  " bs=1 seek=5000000 conv=notrunc status=none"),
            0);
  EXPECT_EQ(run(pieces), 12);
  EXPECT_NE(Slurp(root_ + "/err").find("piece 2 of 3, bytes 4194304 to 8388607"), std::string::npos)
      << Slurp(root_ + "/err");
}

// A listed archive is unpacked from a mapping only while the system keeps writers away:
// one who opens it for writing meanwhile (which breaks the unzip's lease) spoils the check,
// and the unzip says so with status 12 even though the bytes it hashed were the listed ones.
TEST_F(UnzipTest, AWriterMeanwhileSpoilsTheCheck) {
  const std::string dir = root_ + "/jars";
  fs::create_directories(dir);
  ASSERT_EQ(Shell("head -c 48M /dev/urandom > " + Q(root_ + "/big.dat") + " && cd " + Q(root_) +
                  " && zip -q0 jars/big.jar big.dat && sha256sum jars/big.jar > sum"),
            0);
  const std::string listing = "big.jar:" + std::to_string(fs::file_size(dir + "/big.jar")) + ":";
  std::string sum;
  std::ifstream(root_ + "/sum") >> sum;
  const std::string command = Q(kNative) + " -qqqo " + Q(dir) + "/\"*.jar\" -d " +
                              Q(root_ + "/out") + " --sha256 " + listing + sum + " 2>/dev/null";
  EXPECT_EQ(Shell(command), 0);  // alone: as listed
  fs::remove_all(root_ + "/out");
  auto unzip = std::async(std::launch::async, [&] { return Shell(command); });
  // Once the unzip holds its lease (it shows in /proc/locks), one writer knocks.
  struct stat st {};
  ASSERT_EQ(stat((dir + "/big.jar").c_str(), &st), 0);
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  bool broke_lease = false;
  while (!broke_lease &&
         unzip.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
      if (line.find("LEASE") == std::string::npos || line.find(inode) == std::string::npos)
        continue;
      int fd = open((dir + "/big.jar").c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
      broke_lease = fd < 0 && errno == EWOULDBLOCK;
      break;
    }
  }
  int status = unzip.get();
  if (!broke_lease) GTEST_SKIP() << "the unzip ended before a writer could meet its lease";
  EXPECT_EQ(status, 12);
}

// Archives of other makers, unpacked as Info-ZIP unpacks them, with the same status: bytes in front
// (a script before a zip, a .jmod's header), "\" separators from an MS-DOS archiver, a local header
// that names another file than the directory.
TEST_F(UnzipTest, OtherMakersArchivesAsInfoZip) {
  using testing::ZipBytes;
  std::string src = MakeSource();
  // Info-ZIP misplaces a link of an archive with bytes in front (it made a.txt the link):
  // no link here, where it is the reference.
  fs::remove(src + "/bin/a-link");
  ASSERT_EQ(Shell("cd " + Q(src) + " && zip -qry ../plain.zip ."), 0);
  std::map<std::string, std::string> archives;
  archives["script.zip"] =
      "#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n" + Slurp(root_ + "/plain.zip");
  ZipBytes dos;
  ZipBytes::Options made_on_dos;
  made_on_dos.made_by = 0x0014;
  made_on_dos.external = 0x20;
  dos.Add("jre\\bin\\java.dll", "dll", made_on_dos);
  dos.Add("jre\\lib\\modules", "modules", made_on_dos);
  archives["backslash.zip"] = dos.Finish();
  ZipBytes other;
  ZipBytes::Options shown_otherwise;
  shown_otherwise.local_name = "harmless.txt";
  other.Add("ok.txt", "fine", {});
  other.Add("evil.txt", "payload", shown_otherwise);
  archives["mismatch.zip"] = other.Finish();
  std::error_code ec;
  const fs::path javac = fs::canonical("/usr/bin/javac", ec);
  const fs::path jmod = javac.parent_path().parent_path() / "jmods/java.logging.jmod";
  if (!ec && fs::exists(jmod)) archives["java.logging.jmod"] = Slurp(jmod.string());
  for (const auto& [name, bytes] : archives) {
    SCOPED_TRACE(name);
    const std::string archive = root_ + "/" + name;
    std::ofstream(archive, std::ios::binary) << bytes;
    const std::string ours = root_ + "/ours-" + name, theirs = root_ + "/theirs-" + name;
    int their_status = Shell("unzip -qqo " + Q(archive) + " -d " + Q(theirs) + " 2>/dev/null");
    EXPECT_EQ(their_status, 1);
    EXPECT_EQ(RunUnzip(false, "-qqo", archive, ours), their_status);
    EXPECT_EQ(Tree(ours, false), Tree(theirs, false));
    if (!HaveWine()) continue;
    // On Windows "\\" separates anyway, without a warning.
    const std::string win = root_ + "/win-" + name;
    EXPECT_EQ(RunUnzip(true, "-qqo", archive, win), name == "backslash.zip" ? 0 : their_status);
    EXPECT_EQ(Tree(win, false), Tree(theirs, false));
  }
}

TEST_F(UnzipTest, HostileArchivesStayInside) {
  using testing::ZipBytes;
  ZipBytes::Options link;
  link.external = 0120777u << 16;
  struct Case {
    const char* name;
    std::string archive;
    int status;
    std::string kept = "";    // "path=bytes": a file the destination must then hold
    int windows_status = -1;  // where unzip.exe ends otherwise
  };
  auto one = [](const std::string& name, const std::string& data) {
    ZipBytes z;
    z.Add("ok.txt", "fine", {});
    z.Add(name, data, {});
    return z.Finish();
  };
  ZipBytes through;  // a link out, then a file written through it
  through.Add("lnk", "../../outside", link);
  through.Add("lnk/pwned", "x", {});
  ZipBytes crc;
  ZipBytes::Options bad;
  bad.crc_delta = 1;
  crc.Add("ok.txt", "fine", {});
  crc.Add("bad.txt", "data", bad);
  ZipBytes overlap;
  overlap.Add("ok.txt", "fine", {});
  overlap.DuplicateLast("again.txt");
  std::string good = one("x.txt", "y");
  // A NUL byte ends the name a system call reads: "..\0" would be checked whole and made
  // as "..", and a chain of such links leads out.
  ZipBytes nul;
  nul.Add("ok.txt", "fine", {});
  nul.Add("up", std::string("..\0", 3), link);
  nul.Add("sub/up", std::string("sub/..\0x", 9), link);
  nul.Add("etc", "up/up/etc", link);
  nul.Add(std::string("evil\0/../../x", 13), "x", {});
  ZipBytes same;  // a link, then a file of its name: the file is the later entry
  same.Add("same", "ok.txt", link);
  same.Add("same", "data", {});
  ZipBytes cased;  // one name where names fold case (Windows), two elsewhere
  cased.Add("A.txt", "one", {});
  cased.Add("a.txt", "two", {});
  cased.Add("Dir/x", "below", {});
  cased.Add("dir", "a file of the directory's name", {});
  ZipBytes folded;  // letters beyond ASCII fold as the system folds them, not as tolower does
  for (const char* name : {"\xC3\x84.txt", "\xEF\xBC\xA1.txt", "\xD0\xAF.txt"}) {
    folded.Add(name, "earlier", {});  // Ä, fullwidth A, Я
  }
  for (const char* name : {"\xC3\xA4.txt", "\xEF\xBD\x81.txt", "\xD1\x8F.txt"}) {
    folded.Add(name, "later", {});  // ä, fullwidth a, я
  }
  ZipBytes devices;  // names Windows opens as devices, superscript digits included
  for (const char* name : {"COM\xC2\xB9.txt", "COM\xC2\xB2.log", "LPT\xC2\xB3", "COM0.txt", "LPT0",
                           "CONIN$", "conout$.txt"}) {
    devices.Add(name, "device", {});
  }
  const std::string longest(255, 'n');  // as long as one name may be on either system
  ZipBytes aliases;                     // names Windows reads as others, or as devices
  aliases.Add(longest, "long", {});
  for (const char* name : {"docs./x.txt", "notes.txt ", "report.txt.", "CON", "lpt1.log"}) {
    aliases.Add(name, "alias", {});
  }
  ZipBytes locked;
  ZipBytes::Options encrypted;
  encrypted.flags = 1;
  locked.Add("secret.txt", "ciphertext", encrypted);
  ZipBytes bomb;  // declares 100 x 4 GiB: more than any test machine's disk
  ZipBytes::Options huge;
  huge.declared_size = 0xFFFFFFF0u;
  for (int i = 0; i < 100; ++i) bomb.Add("zeros" + std::to_string(i), "0", huge);
  const std::vector<Case> cases = {
      {"parent", one("../../outside/evil.txt", "x"), 1},
      {"absolute", one(root_ + "/outside/abs.txt", "x"), 1},
      {"link out and through it", through.Finish(), 1},
      {"bad crc", crc.Finish(), 2},
      {"overlapping entries", overlap.Finish(), 3},
      {"cut short", good.substr(0, good.size() - 30), 9},
      {"NUL bytes in names and link targets", nul.Finish(), 1, "ok.txt=fine"},
      {"two entries of one name", same.Finish(), 1, "same=data"},
      {"encrypted", locked.Finish(), 81},
      {"names that differ only in case", cased.Finish(), 0, "a.txt=two", 1},
      {"a file of a directory's name",
       [] {
         ZipBytes z;
         z.Add("d/x", "below", {});
         z.Add("d", "the later entry", {});
         return z.Finish();
       }(),
       1, "d=the later entry"},
      {"a file, then entries below its name",
       [] {
         ZipBytes z;
         z.Add("d", "the earlier entry", {});
         z.Add("d/x", "below", {});
         return z.Finish();
       }(),
       1, "d/x=below"},
      {"names Windows reads as others", aliases.Finish(), 0, longest + "=long", 1},
      {"letters that fold beyond ASCII", folded.Finish(), 0, "\xD1\x8F.txt=later", 1},
      {"device names", devices.Finish(), 0, "", 1},
      {"declares more than the disk holds", bomb.Finish(), 50},
  };
  for (const Case& c : cases)
    for (bool windows : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (windows ? " (unzip.exe)" : ""));
      if (windows && !HaveWine()) continue;
      fs::remove_all(root_ + "/d");
      fs::remove_all(root_ + "/outside");
      fs::create_directories(root_ + "/d/e");
      fs::create_directories(root_ + "/outside");
      const std::string archive = root_ + "/hostile.zip";
      std::ofstream(archive, std::ios::binary) << c.archive;
      EXPECT_EQ(RunUnzip(windows, "-qo", archive, root_ + "/d/e"),
                windows && c.windows_status >= 0 ? c.windows_status : c.status);
      EXPECT_TRUE(fs::is_empty(root_ + "/outside"));
      EXPECT_FALSE(fs::exists(root_ + "/d/e/bad.txt"));  // never left looking complete
      EXPECT_FALSE(fs::exists(root_ + "/d/e/secret.txt"));
      EXPECT_FALSE(fs::exists(root_ + "/d/e/zeros0"));
      EXPECT_FALSE(fs::exists(root_ + "/d/e/evil"));  // a name cut at its NUL byte
      if (!c.kept.empty()) {
        const std::string path = root_ + "/d/e/" + c.kept.substr(0, c.kept.find('='));
        EXPECT_FALSE(fs::is_symlink(path));
        std::ifstream in(path);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
                  c.kept.substr(c.kept.find('=') + 1));
      }
      if (windows) {  // nothing that Windows would read as another name, or a device
        for (const char* alias :
             {"docs", "notes.txt", "report.txt", "CON", "lpt1.log", "COM\xC2\xB9.txt", "LPT0",
              "CONIN$", "\xC3\x84.txt", "\xEF\xBC\xA1.txt", "\xD0\xAF.txt"}) {
          EXPECT_FALSE(fs::exists(root_ + "/d/e/" + alias)) << alias;
        }
      }
      for (const auto& [path, what] : Tree(root_ + "/d")) {
        EXPECT_EQ(what.find("link ../../outside"), std::string::npos) << path;
        EXPECT_EQ(what.find("link .."), std::string::npos) << path;
        EXPECT_EQ(what.find("link sub/.."), std::string::npos) << path;
        EXPECT_EQ(path.find(".unzip-"), std::string::npos) << path;  // no half-written file
      }
    }
}

// Stored entries are copied by the system from the archive (same file system), or written
// from the mapping where it cannot copy between the two (the archive in /dev/shm, the
// output on disk): the same bytes either way, parts of 4 MiB and the rest; a CRC that
// does not match is still refused, and no file is left.
TEST_F(UnzipTest, StoredEntriesByEitherPath) {
  using testing::ZipBytes;
  std::string big(9u << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  ZipBytes good, bad;
  ZipBytes::Options wrong;
  wrong.crc_delta = 1;
  good.Add("small.txt", "fine", {});
  good.Add("big.bin", big, {});
  bad.Add("small.txt", "fine", {});
  bad.Add("bad.bin", big, wrong);
  struct stat shm {
  }, here{};
  const bool other_fs =
      stat("/dev/shm", &shm) == 0 && stat(root_.c_str(), &here) == 0 && shm.st_dev != here.st_dev;
  for (const bool in_shm : {false, true}) {
    if (in_shm && !other_fs) continue;
    SCOPED_TRACE(in_shm ? "archive in /dev/shm" : "archive beside the output");
    std::string dir = root_;
    if (in_shm) {
      std::string pattern = "/dev/shm/zorvex_unzip_XXXXXX";
      dir = mkdtemp(pattern.data());
    }
    std::ofstream(dir + "/good.zip", std::ios::binary) << good.Finish();
    std::ofstream(dir + "/bad.zip", std::ios::binary) << bad.Finish();
    fs::remove_all(root_ + "/out");
    EXPECT_EQ(RunUnzip(false, "-qo", dir + "/good.zip", root_ + "/out"), 0);
    EXPECT_EQ(Slurp(root_ + "/out/big.bin"), big);
    EXPECT_EQ(Slurp(root_ + "/out/small.txt"), "fine");
    EXPECT_EQ(RunUnzip(false, "-qo", dir + "/bad.zip", root_ + "/out"), 2);
    EXPECT_FALSE(fs::exists(root_ + "/out/bad.bin"));
    if (in_shm) fs::remove_all(dir);
  }
}

// A stored entry beyond 2 GiB, more than the system copies in one call: whole, to its end.
TEST_F(UnzipTest, StoredEntryLargerThan2GiB) {
  const uint64_t size = (2ull << 30) + 4097;
  const std::string name = "big.bin", tail = "the end of the entry";
  // In memory where there is /dev/shm: the copy is the same there, and the disk is spared
  // writing 2 GiB.
  std::string pattern = (fs::exists("/dev/shm") ? "/dev/shm" : root_) + "/zorvex_big_XXXXXX";
  const std::string dir = mkdtemp(pattern.data());
  struct Cleanup {
    std::string dir;
    ~Cleanup() { fs::remove_all(dir); }
  } cleanup{dir};
  const std::string archive = dir + "/big.zip";
  int fd = open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  auto put = [](std::string* s, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s->push_back(static_cast<char>(v >> (8 * i)));
  };
  // The data: zeros (a hole) and then `tail`; its CRC from the same bytes, part by part.
  const std::string zeros(1u << 20, '\0');
  uLong crc = crc32(0, nullptr, 0);
  for (uint64_t left = size - tail.size(); left > 0;
       left -= std::min<uint64_t>(left, zeros.size())) {
    crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()),
                static_cast<uInt>(std::min<uint64_t>(left, zeros.size())));
  }
  crc = crc32(crc, reinterpret_cast<const Bytef*>(tail.data()), static_cast<uInt>(tail.size()));
  std::string local;
  put(&local, 0x04034b50, 4), put(&local, 20, 2), put(&local, 0, 2), put(&local, 0, 2);
  put(&local, 0, 4), put(&local, crc, 4), put(&local, size, 4), put(&local, size, 4);
  put(&local, name.size(), 2), put(&local, 0, 2);
  local += name;
  std::string central;
  put(&central, 0x02014b50, 4), put(&central, 0x031E, 2), put(&central, 20, 2);
  put(&central, 0, 2), put(&central, 0, 2), put(&central, 0, 4), put(&central, crc, 4);
  put(&central, size, 4), put(&central, size, 4), put(&central, name.size(), 2);
  put(&central, 0, 2), put(&central, 0, 2), put(&central, 0, 2), put(&central, 0, 2);
  put(&central, 0100644u << 16, 4), put(&central, 0, 4);
  central += name;
  const uint64_t at = local.size() + size;
  std::string end;
  put(&end, 0x06054b50, 4), put(&end, 0, 4), put(&end, 1, 2), put(&end, 1, 2);
  put(&end, central.size(), 4), put(&end, at, 4), put(&end, 0, 2);
  ASSERT_EQ(pwrite(fd, local.data(), local.size(), 0), static_cast<ssize_t>(local.size()));
  const std::string after = tail + central + end;
  ASSERT_EQ(pwrite(fd, after.data(), after.size(), at - tail.size()),
            static_cast<ssize_t>(after.size()));
  close(fd);
  EXPECT_EQ(RunUnzip(false, "-qo", archive, dir + "/out"), 0);
  fs::remove(archive);
  const std::string out = dir + "/out/" + name;
  ASSERT_EQ(fs::file_size(out), size);
  std::ifstream in(out, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(size - tail.size()));
  std::string last(tail.size(), '\0');
  in.read(last.data(), static_cast<std::streamsize>(last.size()));
  EXPECT_EQ(last, tail);
}

TEST_F(UnzipTest, WindowsBuildUnpacksTheSameNamesAndBytes) {
  const char* wine = "/usr/lib/wine/wine64";
  if (!fs::exists(kWindows) || !fs::exists(wine)) GTEST_SKIP() << "no unzip.exe or Wine";
  std::string src = MakeSource();
  fs::remove(src + "/bin/a-link");  // links become files holding their target on Windows
  ASSERT_EQ(Shell("cd " + Q(src) + " && zip -qry ../d.zip . && jar cf ../j.jar ."), 0);
  const std::string env = "WINEPREFIX=" + Q(NativeBuild() + "/blackbox-wineprefix") +
                          " WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ";
  for (const char* name : {"d.zip", "j.jar"}) {
    SCOPED_TRACE(name);
    std::string out = root_ + "/win-" + name, native = root_ + "/native-" + name;
    ASSERT_EQ(Shell(Q(kNative) + " -qqqo " + Q(root_ + "/" + name) + " -d " + Q(native)), 0);
    std::string z = "Z:" + root_;
    std::replace(z.begin(), z.end(), '/', '\\');
    EXPECT_EQ(Shell(env + wine + " " + Q(kWindows) + " -qqqo " + Q(z + "\\" + name) + " -d " +
                    Q(z + "\\win-" + name) + " < /dev/null"),
              0);
    EXPECT_EQ(Tree(out, false), Tree(native, false));
  }
}

}  // namespace
}  // namespace zorvex::blackbox
