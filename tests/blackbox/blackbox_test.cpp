// Black-box tests of the built launchers: the native setup and, under Wine, setup.exe,
// each run against a medium made in a temporary directory with a recording Java stand-in.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "blackbox/harness.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

class LauncherTest : public ::testing::TestWithParam<Target> {
 protected:
  LauncherTest() : medium_(GetParam()) {}
  bool windows() const { return GetParam().windows; }
  // The exit status as the test sees it: the low 8 bits of the launcher's status.
  static int Status(int launcher_status) { return launcher_status & 0xFF; }
  Medium medium_;
};

TEST(TargetsTest, BothTargetsAreBuiltWhenRequired) {
  if (std::getenv("ZORVEX_REQUIRE_WINDOWS") == nullptr) GTEST_SKIP() << "not required";
  EXPECT_EQ(BuiltTargets().size(), 2u) << "setup.exe or Wine is missing";
}

TEST_P(LauncherTest, NoCatalogueEndsWithStatusOne) {
  medium_.WriteParamFile("");
  medium_.RemoveCatalogues();
  RunResult r = medium_.Run({"-silent"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Could not read any NLS message catalogue!"), std::string::npos)
      << r.err;
  EXPECT_TRUE(medium_.JavaRuns().empty());
}

// A silent run that fails ends at once when nobody can answer its press-Enter pause: a
// deployment agent keeps standard input open as a pipe for as long as the run lasts.
TEST_P(LauncherTest, SilentFailuresEndWithStandardInputOpen) {
  const std::string java = medium_.jre_dir + "/bin/" + (windows() ? "javaw.exe" : "java");
  const std::vector<std::pair<std::string, std::function<void()>>> failures = {
      {"no parameter file", [&] { fs::remove(medium_.medium_dir + "/zorparam.ini"); }},
      {"no Java", [&] { medium_.WriteParamFile("JRE_LOCATION=" + medium_.root + "/none\n"); }},
      {"Java that cannot be started", [&] {
         medium_.WriteParamFile("");
         fs::permissions(java, fs::perms(0644));
       }}};
  for (const auto& [what, fail] : failures) {
    if (what == "Java that cannot be started" && windows()) continue;  // no mode to take away
    SCOPED_TRACE(what);
    fail();
    const auto start = std::chrono::steady_clock::now();
    RunResult r = medium_.Run({"-silent"}, {}, kOpenInput);
    EXPECT_NE(r.err, "timed out");
    EXPECT_NE(r.status, 0) << r.out << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << r.err;
    EXPECT_EQ(r.out.find("Press Enter"), std::string::npos) << r.out;
  }
}

TEST_P(LauncherTest, CatalogueOfTheUsersLanguageWins) {
  medium_.WriteParamFile("");
  // By the full tag, then by the language; a language without a catalogue gets the base.
  const std::pair<const char*, const char*> cases[] = {
      {"de_DE.UTF-8", "Meridal Installer wird gestartet..."},
      {"ja_JP.UTF-8", "Meridal Installer を起動しています..."},
      {"es_MX.UTF-8", "Iniciando Meridal Installer..."},
      {"it_IT.UTF-8", "Avvio di Meridal Installer in corso..."},
      {"ko_KR.UTF-8", "Meridal Installer을(를) 시작하는 중..."},
      {"pt_BR.UTF-8", "Iniciando o Meridal Installer..."},
      {"pt_PT.UTF-8", "Starting Meridal Installer..."},
      {"zh_TW.UTF-8", "正在啟動 Meridal Installer..."},
  };
  for (const auto& [lang, text] : cases) {
    RunResult r =
        medium_.Run({"-silent", "-noconsole"}, {{"LANG", lang}, {"ZORVEX_FAKE_JAVA_EXIT", "0"}});
    EXPECT_EQ(r.status, 0) << lang << r.err;
    EXPECT_NE(r.out.find(text), std::string::npos) << lang << ": " << r.out;
  }
}

// A translated catalogue whose texts would read arguments the launcher does not pass, of
// other kinds, or write through %n: the base texts are used instead.
TEST_P(LauncherTest, HostileTranslationFallsBackToTheBaseText) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nBOOTSTRAP_SIZE=5000\n");
  const std::string nul(1, '\0');
  std::ofstream(medium_.medium_dir + "/resource/cons_de.nls", std::ios::binary)
      << "S_STARTINSTALLERMSG=%d%n%s%s%s" + nul + "S_ERBOOTSTRAP_RANGE=%s %s %s %n" + nul +
             "S_WAITMSG=Bitte warten %s%s\n" + nul + "S_BOOTSTRAPMSG=Kopieren nach" + nul;
  RunResult r = medium_.Run({"-silent", "-noconsole"},
                            {{"LANG", "de_DE.UTF-8"}, {"ZORVEX_FAKE_JAVA_SLEEP_MS", "300"}});
  EXPECT_EQ(r.status, Status(259)) << r.out << r.err;
  EXPECT_NE(r.out.find("Starting Meridal Installer...\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("must be a whole number from 0 to 2047."), std::string::npos) << r.out;
  // A text used as it stands is printed as it stands; only one used as a format is checked.
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
  r = medium_.Run({"-silent", "-noconsole"},
                  {{"LANG", "de_DE.UTF-8"}, {"ZORVEX_FAKE_JAVA_SLEEP_MS", "300"}});
  EXPECT_NE(r.out.find("Kopieren nach " + medium_.TargetPath(medium_.temp_dir)), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Bitte warten %s%s\n"), std::string::npos) << r.out;
}

TEST_P(LauncherTest, ExitStatusOfAWaitedJavaComesBackUnchanged) {
  medium_.WriteParamFile("");
  for (int code : {0, 3, 42}) {
    RunResult r =
        medium_.Run({"-silent", "-noconsole"}, {{"ZORVEX_FAKE_JAVA_EXIT", std::to_string(code)}});
    EXPECT_EQ(r.status, code) << r.out << r.err;
  }
  ASSERT_EQ(medium_.JavaRuns().size(), 3u);
  // Without a bootstrap the launcher waits and removes its scratch directory; the two
  // failed runs keep their install logs beside it.
  std::vector<std::string> left = medium_.TempEntries();
  ASSERT_EQ(left.size(), 2u);
  for (const std::string& name : left) EXPECT_TRUE(name.ends_with(".log")) << name;
}

TEST_P(LauncherTest, JavaNotWaitedForGivesStillActive) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
  RunResult r = medium_.Run({"-silent", "-noconsole"}, {{"ZORVEX_FAKE_JAVA_EXIT", "7"},
                                                        {"ZORVEX_FAKE_JAVA_SLEEP_MS", "1500"}});
  EXPECT_EQ(r.status, Status(259)) << r.out << r.err;
  EXPECT_EQ(medium_.WaitForJavaRuns(1, 20000).size(), 1u);
  EXPECT_EQ(medium_.TempEntries().size(), 1u);  // left to the Java side
}

// --- Parameter file, scratch directory, logs -----------------------------------------

// The element after `option` in what Java received; empty when absent.
std::string After(const JavaRecord& run, const std::string& option) {
  for (size_t i = 0; i + 1 < run.args.size(); ++i) {
    if (run.args[i] == option) return run.args[i + 1];
  }
  return "";
}

class LoggedLauncherTest : public LauncherTest {
 protected:
  void SetUp() override {
    inventory_ = medium_.root + "/inventory";
    medium_.SetRegistryValue("SOFTWARE\\ZORVEX", "inst_loc", medium_.TargetPath(inventory_));
  }
  void TearDown() override { medium_.DeleteRegistryKey("SOFTWARE\\ZORVEX"); }
  // The install log of a run started with -rtimestamp T.
  std::string Log(const std::string& stem = "installActions") {
    return medium_.ReadFile(inventory_ + "/logs/" + stem + "T.log");
  }
  std::string inventory_;
};

TEST_P(LoggedLauncherTest, ParamFileBesideTheLauncherWinsOverTheParent) {
  medium_.WriteParamFile("");
  medium_.WriteParamFile("", medium_.root + "/zorparam.ini");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string expected = "Using the parameter file " +
                         medium_.TargetPath(medium_.medium_dir + "/zorparam.ini") + ".\n";
  EXPECT_EQ(Log().rfind(expected, 0), 0u) << Log();
  EXPECT_EQ(Log().find("not found"), std::string::npos);
}

TEST_P(LoggedLauncherTest, ParamFileOnlyInTheParent) {
  medium_.WriteParamFile("", medium_.root + "/zorparam.ini");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Log().rfind("The parameter file was not found at " +
                            medium_.TargetPath(medium_.medium_dir + "/zorparam.ini") + ".\n" +
                            "Using the parameter file " +
                            medium_.TargetPath(medium_.root + "/zorparam.ini") + ".\n",
                        0),
            0u)
      << Log();
}

TEST_P(LoggedLauncherTest, NoParamFileEndsWithMinusTwo) {
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"});
  EXPECT_EQ(r.status, Status(-2));
  const std::string message =
      "The parameter file zorparam.ini was not found. The installer cannot continue.\n";
  EXPECT_NE(r.out.find(message), std::string::npos) << r.out;
  // Standard input is a file: nobody answers, and the run ends at once.
  EXPECT_EQ(r.out.find("Press Enter to exit."), std::string::npos) << r.out;
  std::string log = Log();
  EXPECT_NE(log.find(message), std::string::npos) << log;
  size_t lines = 0;
  for (size_t p = log.find("was not found at"); p != std::string::npos;
       p = log.find("was not found at", p + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 4u) << log;
  EXPECT_TRUE(medium_.JavaRuns().empty());
}

TEST_P(LoggedLauncherTest, GivenParamFileMissingFallsBackToTheDefaultPlace) {
  medium_.WriteParamFile("");
  std::string missing = medium_.TargetPath(medium_.root + "/nowhere.ini");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T", "-paramFile", missing});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::string expected = "The parameter file " + missing + " was not found.\n" +
                         "Using the parameter file " +
                         medium_.TargetPath(medium_.medium_dir + "/zorparam.ini") + " instead.\n";
  EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
  EXPECT_EQ(Log().rfind(expected, 0), 0u) << Log();
}

TEST_P(LoggedLauncherTest, ModeLogNames) {
  medium_.WriteParamFile("");
  medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T", "-cleanup"});
  EXPECT_FALSE(Log("Cleanup").empty());
  medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T", "-saveInventory", "-cleanup"});
  EXPECT_FALSE(Log("SaveInventory").empty());
}

TEST_P(LauncherTest, TemporaryDirectoryChoice) {
  medium_.WriteParamFile("");
  const std::string sep(1, medium_.Sep());
  const std::string tmp = medium_.TargetPath(medium_.root + "/tmpdir");
  fs::create_directories(medium_.root + "/tmpdir");
  const std::string fallback = windows() ? "C:\\TEMP" : "/tmp";
  struct Case {
    const char* name;
    Env env;
    std::string parent;
  };
  const Case cases[] = {
      {"TEMP used",
       {{"TEMP", medium_.TargetPath(medium_.temp_dir) + sep}},
       medium_.TargetPath(medium_.temp_dir)},
      {"TEMP relative: fallback, TMP not asked", {{"TEMP", "temp"}, {"TMP", tmp}}, fallback},
      {"TEMP with a semicolon", {{"TEMP", tmp + ";" + tmp}}, fallback},
      {"TEMP unset, TMP set", {{"TEMP", kUnset}, {"TMP", tmp}}, tmp},
  };
  size_t runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = medium_.Run({"-silent", "-noconsole"}, c.env);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<JavaRecord> java = medium_.JavaRuns();
    ASSERT_EQ(java.size(), ++runs);
    std::string scratch = After(java.back(), "-scratchPath");
    EXPECT_EQ(scratch.substr(0, scratch.find_last_of(medium_.Sep())), c.parent) << scratch;
    EXPECT_NE(scratch.find(sep + "ZorInstall"), std::string::npos);
  }
}

TEST_P(LauncherTest, LaunchesInTheSameSecondGetTheirOwnScratchDirectories) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");  // not waited for: the directories stay
  for (int i = 0; i < 3; ++i) {
    RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"},
                              {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "500"}});
    EXPECT_EQ(r.status, Status(259)) << r.out << r.err;
  }
  EXPECT_EQ(medium_.TempEntries(),
            (std::vector<std::string>{"ZorInstallT", "ZorInstallT_1", "ZorInstallT_2"}));
}

// Side by side, all in one second: the directory is taken by creating it, so no two runs
// share one even when they race.
TEST_P(LauncherTest, ConcurrentLaunchesNeverShareAScratchDirectory) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
  std::vector<std::thread> runs;
  std::vector<RunResult> results(3);
  for (int i = 0; i < 3; ++i) {
    runs.emplace_back([this, &results, i] {
      results[i] = medium_.Run({"-silent", "-noconsole", "-rtimestamp", "T"},
                               {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "500"}});
    });
  }
  for (std::thread& t : runs) t.join();
  for (const RunResult& r : results) EXPECT_EQ(r.status, Status(259)) << r.out << r.err;
  EXPECT_EQ(medium_.TempEntries(),
            (std::vector<std::string>{"ZorInstallT", "ZorInstallT_1", "ZorInstallT_2"}));
  std::vector<JavaRecord> java = medium_.WaitForJavaRuns(3, 20000);
  ASSERT_EQ(java.size(), 3u) << medium_.ReadFile(medium_.record_file);
  std::set<std::string> scratch;
  for (const JavaRecord& run : java) scratch.insert(After(run, "-scratchPath"));
  EXPECT_EQ(scratch.size(), 3u);
}

TEST_P(LauncherTest, RegistryThatCannotBeWrittenStopsTheRun) {
  if (windows()) GTEST_SKIP() << "Wine grants every program write access to the registry";
  medium_.WriteParamFile("");
  fs::remove_all(medium_.registry_dir + "/HKEY_LOCAL_MACHINE/SOFTWARE");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, Status(-1));
  EXPECT_NE(r.out.find("The installer cannot write to the system registry."), std::string::npos)
      << r.out;
  EXPECT_TRUE(medium_.JavaRuns().empty());
  EXPECT_EQ(medium_.TempEntries().size(), 1u);
}

TEST_P(LauncherTest, TimestampThatIsAPathIsNotUsed) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\n");
  std::string bad = std::string("..") + medium_.Sep() + "escape";
  RunResult r = medium_.Run({"-silent", "-noconsole", "-rtimestamp", bad},
                            {{"ZORVEX_FAKE_JAVA_SLEEP_MS", "500"}});
  EXPECT_EQ(r.status, Status(259)) << r.out << r.err;
  std::vector<std::string> entries = medium_.TempEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_NE(entries[0], "ZorInstall..");
  EXPECT_FALSE(fs::exists(medium_.root + "/escape"));
  std::string log = medium_.ReadFile(medium_.temp_dir + "/" + entries[0] + "/installActions" +
                                     entries[0].substr(10) + ".log");
  EXPECT_NE(log.find("-rtimestamp \"" + bad + "\" cannot name"), std::string::npos) << log;
}

// --- The Java command line ------------------------------------------------------------

class JavaCommandLineTest : public LauncherTest {
 protected:
  // Runs with the options and returns what Java received (the last run recorded).
  JavaRecord RunJava(const std::vector<std::string>& args, const Env& env = {}) {
    RunResult r = medium_.Run(args, env);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<JavaRecord> runs = medium_.JavaRuns();
    if (runs.empty()) {
      ADD_FAILURE() << "Java was not started: " << r.out << r.err;
      return {};
    }
    return runs.back();
  }
  std::string M(const std::string& unix_path) { return medium_.TargetPath(unix_path); }
  std::string Java(const char* exe) {
    return M(medium_.jre_dir + "/bin/") + (windows() ? exe : "java");
  }
  // Every class-path entry names a place of its own: none is empty (Java would read it as
  // its working directory) and none is relative (it would depend on where Java starts).
  void ExpectSoundClassPath(const std::string& cp) {
    const char cp_sep = windows() ? ';' : ':';
    size_t pos = 0;
    while (pos <= cp.size()) {
      size_t end = std::min(cp.find(cp_sep, pos), cp.size());
      std::string entry = cp.substr(pos, end - pos);
      EXPECT_FALSE(entry.empty()) << "empty entry at " << pos << " of " << cp;
      bool absolute = windows() ? entry.size() > 2 && entry[1] == ':' && entry[2] == '\\'
                                : entry.rfind('/', 0) == 0;
      EXPECT_TRUE(entry.empty() || absolute) << entry;
      pos = end + 1;
    }
  }
  static bool Has(const JavaRecord& run, const std::string& element) {
    return std::find(run.args.begin(), run.args.end(), element) != run.args.end();
  }
  // The elements from the first one equal to `from` (inclusive) to `to` (exclusive).
  static std::vector<std::string> Between(const JavaRecord& run, const std::string& from,
                                          const std::string& to) {
    auto a = std::find(run.args.begin(), run.args.end(), from);
    auto b = std::find(a, run.args.end(), to);
    return std::vector<std::string>(a, b);
  }
};

TEST_P(JavaCommandLineTest, DefaultsElementByElement) {
  medium_.WriteParamFile("");
  JavaRecord run = RunJava({}, {{"ZORVEX_FAKE_JAVA_EXIT", "0"}});
  const std::string sep(1, medium_.Sep());
  const std::string cp_sep = windows() ? ";" : ":";
  const std::string m = M(medium_.medium_dir);
  const std::string scratch = After(run, "-scratchPath");
  const std::string timestamp = After(run, "-timestamp");
  ASSERT_EQ(run.args.size(), 18u);  // the empty elements vanish in the split
  std::string cp = scratch + cp_sep + m + sep + "jlib" + sep + "zorcore.jar";
  const std::vector<std::string> expected = {
      Java("javaw.exe"),
      "-Dzorvex.installer.library_loc=" + m + sep + "lib" + sep + "win64",
      "-Dzorvex.installer.zek_loc=" + m,
      "-Dzorvex.installer.bootstrap=FALSE",
      "-Dzorvex.installer.startup_location=" + m,
      "-Dzorvex.installer.jre_loc=" + M(fs::path(medium_.root).parent_path().string() + "/jre"),
      "-Dzorvex.installer.exec_location=" + M(medium_.medium_dir + "/setup") +
          (windows() ? ".exe" : ""),
      "-Dzorvex.installer.nlsEnabled=TRUE",
      "-Dzorvex.installer.prereqConfigLoc=",
      "-cp",
      run.args[10],
      "zorvex.admkit.qii.qiic.QiicInstaller",
      "-scratchPath",
      scratch,
      "-sourceType",
      "network",
      "-timestamp",
      timestamp,
  };
  EXPECT_EQ(run.args, expected);
  EXPECT_EQ(run.args[10].rfind(cp, 0), 0u) << run.args[10];
  // No entry of the class path is a bare root directory.
  const std::string entries = cp_sep + run.args[10] + cp_sep;
  EXPECT_EQ(entries.find(cp_sep + sep + cp_sep), std::string::npos) << run.args[10];
  ExpectSoundClassPath(run.args[10]);
  EXPECT_EQ(scratch, M(medium_.temp_dir) + sep + "ZorInstall" + timestamp);
  EXPECT_EQ(run.cwd, m);  // not bootstrapped: Java runs in the launcher's directory
}

TEST_P(JavaCommandLineTest, ModesChooseMainClassBootstrapAndLog) {
  struct Case {
    const char* option;
    const char* main_class;
    bool bootstrap_off;
  };
  const Case cases[] = {
      {"-preCloneSetup", "zorvex.admkit.qii.qiic.QiicPreCloneSetup", false},
      {"-updateNodeList", "zorvex.admkit.qii.qiic.QiicUpdateNodeList", true},
      {"-attachHome", "zorvex.admkit.qii.qiic.QiicAttachHome", false},
      {"-relink", "zorvex.admkit.qii.qiis.QiisMakeDeps", false},
      {"-removeHome", "zorvex.admkit.qii.qiic.QiicRemoveHome", true},
      {"-detachHome", "zorvex.admkit.qii.qiic.QiicDetachHome", true},
      {"-updateHomeDeps", "zorvex.admkit.qii.qiic.QiicUpdateHomeDeps", false},
      {"-addNode", "zorvex.admkit.qii.qiic.QiicInstaller", true},
      {"-cleanup", "zorvex.admkit.qii.qiic.QiicCleanup", false},
      {"-saveInventory", "zorvex.admkit.qii.qiic.QiicSaveInventory", false},
      {"-oneClick", "zorvex.admkit.qio.qioc.QiocOneClickInstaller", false},
  };
  // Bootstrapping on, waiting asked for: the mode decides what the property says.
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    JavaRecord run = RunJava({"-silent", "-noconsole", c.option});
    EXPECT_TRUE(Has(run, c.main_class));
    EXPECT_TRUE(Has(
        run, std::string("-Dzorvex.installer.bootstrap=") + (c.bootstrap_off ? "FALSE" : "TRUE")));
  }
}

TEST_P(JavaCommandLineTest, DistributionMediumRefusesHomeModes) {
  medium_.WriteParamFile("DISTRIBUTION=TRUE\n");
  RunResult r = medium_.Run({"-silent", "-noconsole", "-detachHome", "-J-Dx=1"});
  EXPECT_EQ(r.status, Status(-1));
  EXPECT_NE(r.out.find("The command line \"-SILENT -NOCONSOLE -DETACHHOME -J-DX=1\" cannot be run"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(medium_.JavaRuns().empty());
}

TEST_P(JavaCommandLineTest, MemoryAndJvmOptions) {
  medium_.WriteParamFile("JRE_MEMORY_OPTIONS=-Xms16m   -Xmx64m\n");
  JavaRecord run = RunJava({"-silent", "-noconsole", "JVM_OPTIONS=-Da=1 -Db=2", "-J-Dj=3"});
  EXPECT_EQ(Between(run, "-Xms16m", "-cp"),
            (std::vector<std::string>{"-Xms16m", "-Xmx64m", "-Da=1", "-Db=2", "-Dj=3"}));
  // The -J tail is cut from what is forwarded.
  EXPECT_EQ(run.args.back(), "JVM_OPTIONS=-Da=1 -Db=2");
  run = RunJava({"-silent", "-noconsole", "-J-mx64m"});
  EXPECT_FALSE(Has(run, "-Xms16m"));
  EXPECT_TRUE(Has(run, "-mx64m"));
  run = RunJava({"-silent", "-noconsole", "-memory"});
  EXPECT_TRUE(Has(run, "-verbose:gc"));
  EXPECT_EQ(run.args[0], Java("java.exe"));
}

TEST_P(JavaCommandLineTest, CopyThreadsOnlyExactlyZeroSuppresses) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"0", {}},
      {"00", {"-Dzorvex.installer.copythreads=00"}},
      // A quoted value keeps its blank; the element then splits into two arguments.
      {"\" 0\"", {"-Dzorvex.installer.copythreads=", "0"}},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value);
    medium_.WriteParamFile(std::string("COPY_THREADS=") + value + "\n");
    JavaRecord run = RunJava({"-silent", "-noconsole"});
    std::vector<std::string> got;
    auto p = std::find_if(run.args.begin(), run.args.end(), [](const std::string& a) {
      return a.rfind("-Dzorvex.installer.copythreads=", 0) == 0;
    });
    if (p != run.args.end()) got = {*p, *(p + 1) == "0" ? "0" : ""};
    if (!got.empty() && got[1].empty()) got.pop_back();
    EXPECT_EQ(got, expected);
  }
}

TEST_P(JavaCommandLineTest, SourceLocation) {
  const std::string m = M(medium_.medium_dir);
  const std::string sep(1, medium_.Sep());
  const std::pair<std::string, std::string> cases[] = {
      {"http://host/stage/products.xml", "http://host/stage/products.xml"},
      {"http://", m + sep + "http://"},
      {std::string("stage") + sep + "products.xml", m + sep + "stage" + sep + "products.xml"},
  };
  for (const auto& [source, expected] : cases) {
    SCOPED_TRACE(source);
    medium_.WriteParamFile("SOURCE=" + source + "\n");
    EXPECT_EQ(After(RunJava({"-silent", "-noconsole"}), "-sourceLoc"), expected);
  }
}

TEST_P(JavaCommandLineTest, ExtJlibFilesOfTheScratchDirectoryJoinTheClassPath) {
  const std::string scratch = medium_.root + "/ready";
  fs::create_directories(scratch + "/ext/jlib/sub");
  for (const char* jar : {"b.jar", "a.jar"}) std::ofstream(scratch + "/ext/jlib/" + jar) << "";
  medium_.WriteParamFile("EXT_JLIB=anything\n");
  JavaRecord run = RunJava({"-silent", "-noconsole", "-rscratchPath", M(scratch)});
  const std::string d = M(scratch + "/ext/jlib/");
  const std::string s = windows() ? ";" : ":";
  const std::string cp = After(run, "-cp");
  EXPECT_EQ(cp.rfind(M(scratch) + s + d + "a.jar" + s + d + "b.jar" + s, 0), 0u) << cp;
  ExpectSoundClassPath(cp);
}

// With or without each optional part, and with the relative locations a medium may leave
// unstaged (a parameter file's own, or the defaults of a medium without a patch tool).
TEST_P(JavaCommandLineTest, ClassPathHasNoEmptyOrRelativeEntry) {
  const std::string sep(1, medium_.Sep());
  const char* rows[] = {
      "",
      "EXT_JLIB=anything\nADDTO_CLASSPATH=a.jar;;b.jar\nTHIN_JDBC_FILENAME=jdbc.jar\n",
      "ADDTO_CLASSPATH=;\n",
      "ZEK_LOCATION=zek\nZEK_CORE_LOCATION=..\nZPATCH_LOCATION=..\n",
      "BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\nZPATCH_LOCATION=patch\n",
  };
  for (const char* keys : rows) {
    SCOPED_TRACE(keys);
    medium_.WriteParamFile(keys);
    JavaRecord run = RunJava({"-silent", "-noconsole"});
    ExpectSoundClassPath(After(run, "-cp"));
    for (const std::string& arg : run.args) {
      if (arg.rfind("-Dzorvex.installer.", 0) != 0 || arg.find("_loc") == std::string::npos)
        continue;
      std::string value = arg.substr(arg.find('=') + 1);
      if (!value.empty()) ExpectSoundClassPath(value);  // one absolute location each
    }
  }
}

TEST_P(JavaCommandLineTest, RelaunchOptionsAndWhatIsForwarded) {
  medium_.WriteParamFile("");
  const std::string ready = medium_.root + "/ready";
  fs::create_directories(ready);
  JavaRecord run = RunJava({"-silent", "-noconsole", "-rstartupLoc", M(medium_.root + "/orig"),
                            "-rscratchPath", M(ready), "-rtimestamp", "T1"});
  EXPECT_TRUE(Has(run, "-Dzorvex.installer.startup_location=" + M(medium_.root + "/orig")));
  EXPECT_EQ(After(run, "-scratchPath"), M(ready));
  EXPECT_EQ(After(run, "-timestamp"), "T1");
  // Inside the one command-line text the options are not whole arguments: all forwarded.
  const std::vector<std::string> tail(run.args.end() - 8, run.args.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"-silent", "-noconsole", "-rstartupLoc",
                                            M(medium_.root + "/orig"), "-rscratchPath", M(ready),
                                            "-rtimestamp", "T1"}));
  // The directory was the user's before the run: the run removes only what it put in.
  EXPECT_TRUE(fs::exists(ready));
  EXPECT_TRUE(fs::is_empty(ready));
}

TEST_P(JavaCommandLineTest, NoBootstrapIsDroppedOnlyAsTheWholeCommandLine) {
  medium_.WriteParamFile("");
  JavaRecord run = RunJava({"-nobootStrap"});
  EXPECT_EQ(run.args.back(), After(run, "-timestamp"));  // nothing forwarded
  EXPECT_FALSE(Has(run, "-nobootStrap"));
  run = RunJava({"-nobootStrap", "-silent", "-noconsole"});
  EXPECT_EQ(std::vector<std::string>(run.args.end() - 3, run.args.end()),
            (std::vector<std::string>{"-nobootStrap", "-silent", "-noconsole"}));
  run = RunJava({"-nobootstrap"});
  EXPECT_EQ(run.args.back(), "-nobootstrap");
}

TEST_P(JavaCommandLineTest, HelpGoesToJavaWithoutChecks) {
  medium_.WriteParamFile("");
  RunResult r = medium_.Run({"-help", "-noconsole"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("Starting"), std::string::npos) << r.out;
  JavaRecord run = medium_.JavaRuns().back();
  EXPECT_EQ(run.args[0], Java("javaw.exe"));  // silent, but without a console of its own
  EXPECT_EQ(run.args.back(), "-noconsole");
  r = medium_.Run({"-help"});
  EXPECT_EQ(medium_.JavaRuns().back().args[0], Java("java.exe"));
}

TEST_P(JavaCommandLineTest, ProgramThatCannotStart) {
  medium_.WriteParamFile("");
  for (const char* exe : {"java", "java.exe", "javaw.exe"}) {
    std::ofstream(medium_.jre_dir + "/bin/" + exe) << "not a program\n";
  }
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_NE(r.status, 0);
  if (windows()) {
    EXPECT_EQ(r.status, 193);  // ERROR_BAD_EXE_FORMAT
  }
  EXPECT_NE(r.out.find("CreateZEKProcess() failed with system error " + std::to_string(r.status)),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Press Enter to exit."), std::string::npos);  // nobody to answer
  // At a terminal a person reads the error before the run ends.
  r = medium_.RunInTerminal({"-silent", "-noconsole"}, {}, {{"Press Enter to exit.", "\n"}});
  EXPECT_NE(r.out.find("Press Enter to exit."), std::string::npos) << r.out;
  EXPECT_NE(r.err, "timed out");
}

TEST_P(JavaCommandLineTest, MissingJavaProgram) {
  medium_.WriteParamFile("JRE_LOCATION=" + M(medium_.root + "/nojre") + "\n");
  RunResult r = medium_.Run({"-silent", "-noconsole"});
  EXPECT_EQ(r.status, Status(-1));
  EXPECT_NE(r.out.find("No Java program was found at " + M(medium_.root + "/nojre/bin/") +
                       (windows() ? "javaw.exe" : "java")),
            std::string::npos)
      << r.out;
  // The failed run's install log is kept; its scratch directory is gone.
  std::vector<std::string> left = medium_.TempEntries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].ends_with(".log")) << left[0];
  EXPECT_NE(r.out.find("its install log is kept as " + M(medium_.temp_dir + "/" + left[0])),
            std::string::npos)
      << r.out;
}

// After a bootstrap Java starts in the run's own scratch directory: never in the TEMP that
// other users share, where it would find their classes and (Windows: "." ends its library
// path) their DLLs. A TEMP written with "/" is Windows' separator, not a reason to fall
// back to the shared C:\TEMP.
TEST_P(JavaCommandLineTest, BootstrappedJavaRunsInItsOwnDirectory) {
  medium_.WriteParamFile("BOOTSTRAP=TRUE\nWAIT_FOR_COMPLETION=TRUE\n");
  std::string temp = M(medium_.temp_dir);
  std::replace(temp.begin(), temp.end(), '\\', '/');
  JavaRecord run =
      RunJava({"-silent", "-noconsole"}, {{"ZORVEX_FAKE_JAVA_EXIT", "0"}, {"TEMP", temp}});
  const std::string scratch = After(run, "-scratchPath");
  EXPECT_EQ(scratch.rfind(M(medium_.temp_dir) + medium_.Sep() + "ZorInstall", 0), 0u) << scratch;
  EXPECT_EQ(run.cwd, scratch);
  EXPECT_TRUE(Has(run, "-Dzorvex.installer.zek_loc=" + run.cwd + medium_.Sep() + "zek"));
}

// The demo medium (distribution layout) with a real JVM: the runtime and the installer
// staged from the medium's jars by the project's unzip, Java started from the staged
// runtime, the whole hand-over, and Java's status back.
TEST(RealJvmTest, DemoInstallerReportsWhatItReceived) {
  const std::string build = NativeBuild();
  const std::string medium = build + "/blackbox-demo/medium";
  std::string make = std::string("bash '") + ZORVEX_SOURCE_DIR + "/scripts/make-demo-medium.sh' '" +
                     build + "' '" + medium + "' >/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const std::string registry = build + "/blackbox-demo/registry";
  fs::create_directories(registry + "/HKEY_LOCAL_MACHINE/SOFTWARE");
  fs::remove_all(build + "/blackbox-demo/temp");  // what earlier test runs left
  fs::create_directories(build + "/blackbox-demo/temp");
  // Another user's class of the mode's name in TEMP, where Java starts: it must never load.
  const std::string planted = build + "/blackbox-demo/QiicSaveInventory.java";
  std::ofstream(planted) << "package zorvex.admkit.qii.qiic;\n"
                            "public class QiicSaveInventory { public static void main(String[] a) "
                            "{ System.out.println(\"PLANTED CLASS RAN\"); System.exit(77); } }\n";
  std::string javac = "javac -d '" + build + "/blackbox-demo/temp' '" + planted + "' 2>&1";
  ASSERT_EQ(std::system(javac.c_str()), 0);
  std::string out_file = build + "/blackbox-demo/out.txt";
  std::string run = "cd '" + build + "/blackbox-demo' && ZORVEX_REGISTRY='" + registry +
                    "' TEMP='" + build + "/blackbox-demo/temp' ZORVEX_DEMO_EXIT=5 LANG=C '" +
                    medium + "/Disk1/setup' -silent -saveInventory > '" + out_file + "' 2>&1";
  int status = std::system(run.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5);
  std::ifstream in(out_file);
  std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(out.find("Main class:  zorvex.admkit.qii.qiic.QiicSaveInventory"), std::string::npos)
      << out;
  EXPECT_NE(out.find("zorvex.installer.bootstrap           = TRUE"), std::string::npos);
  const std::string temp = build + "/blackbox-demo/temp/ZorInstall";
  EXPECT_NE(out.find("Java:        " + temp), std::string::npos) << out;  // the staged runtime
  EXPECT_NE(out.find("/zek/jlib/zorinstaller.jar\n"), std::string::npos) << out;
  EXPECT_NE(out.find("] -saveInventory"), std::string::npos);
  EXPECT_NE(out.find("The demo installer ends with status 5."), std::string::npos);
  EXPECT_EQ(out.find("PLANTED CLASS RAN"), std::string::npos);
  fs::remove_all(build + "/blackbox-demo/temp/zorvex");
  // A waited run takes its staged runtime away, read-only files and all.
  for (const auto& e : fs::directory_iterator(build + "/blackbox-demo/temp")) {
    EXPECT_NE(e.path().filename().string().rfind("ZorInstall", 0), 0u) << e.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, LauncherTest, ::testing::ValuesIn(BuiltTargets()), TargetName);
INSTANTIATE_TEST_SUITE_P(Targets, JavaCommandLineTest, ::testing::ValuesIn(BuiltTargets()),
                         TargetName);
INSTANTIATE_TEST_SUITE_P(Targets, LoggedLauncherTest, ::testing::ValuesIn(BuiltTargets()),
                         TargetName);

}  // namespace
}  // namespace zorvex::blackbox
