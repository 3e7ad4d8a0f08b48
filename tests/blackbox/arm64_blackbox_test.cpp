// The Linux programs built for arm64, run as an arm64 machine runs them (here under
// qemu-user, which binfmt_misc starts for every arm64 program, Java's included): media made
// by this machine's zorvex-medium for linux-arm64, with a runtime that jlink makes from the
// arm64 JDK's jmods. And what keeps a medium to one processor: the builder refuses programs
// and runtimes of another, the check reports them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "blackbox/harness.h"

namespace zorvex::blackbox {
namespace {

namespace fs = std::filesystem;

const std::string kArm64Build = std::string(ZORVEX_SOURCE_DIR) + "/build/linux-arm64";

std::string Jmods() {
  const char* set = std::getenv("ZORVEX_ARM64_JMODS");
  return set != nullptr ? set : "/opt/zorvex/jdk-arm64/jmods";
}

// Empty when the arm64 programs can be built on and run here; else why not.
std::string Arm64Missing(bool run) {
  if (!fs::exists(kArm64Build + "/setup")) return "the linux-arm64 preset is not built";
  if (!run) return "";
  if (!fs::exists(Jmods() + "/java.base.jmod")) return "no arm64 jmods in " + Jmods();
  std::ifstream handler("/proc/sys/fs/binfmt_misc/qemu-aarch64");
  std::string state;
  if (!(handler >> state) || state != "enabled") return "no binfmt_misc handler for arm64";
  return "";
}

#define REQUIRE_ARM64(run)                                             \
  if (std::string why = Arm64Missing(run); !why.empty()) {             \
    if (std::getenv("ZORVEX_REQUIRE_ARM64") != nullptr) FAIL() << why; \
    GTEST_SKIP() << why;                                               \
  }

// The demo medium for arm64 in both layouts, with the real arm64 JVM: staged (or started in
// place), the hand-over, Java's status back, the staged files gone after a waited run.
TEST(Arm64Test, DemoMediumRunsOnTheRealJvm) {
  REQUIRE_ARM64(true);
  const std::string native = NativeBuild();
  const std::string root = native + "/arm64-demo";
  for (const auto& [layout, exit] : {std::pair{"distribution", "5"}, std::pair{"plain", "3"}}) {
    SCOPED_TRACE(layout);
    const std::string medium = root + "/" + layout;
    const std::string make = "ZORVEX_DEMO_LAUNCHER_DIR='" + kArm64Build +
                             "' ZORVEX_DEMO_TARGET=linux-arm64 ZORVEX_DEMO_JMODS='" + Jmods() +
                             "' ZORVEX_DEMO_LAYOUT=" + layout + " bash '" + ZORVEX_SOURCE_DIR +
                             "/scripts/make-demo-medium.sh' '" + native + "' '" + medium +
                             "' >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string disk = medium + (layout == std::string("plain") ? "" : "/Disk1");
    RunResult checked = RunBuilt(BuiltTargets()[0], "zorvex-medium", {"check", disk}, root);
    EXPECT_LT(checked.status, 2) << checked.out;
    EXPECT_NE(checked.out.find("The medium is for Linux on arm64"), std::string::npos)
        << checked.out;

    fs::remove_all(root + "/temp");
    fs::create_directories(root + "/temp");
    fs::create_directories(root + "/registry/HKEY_LOCAL_MACHINE/SOFTWARE");
    const Target arm64{"arm64", false, disk, ""};
    RunResult r = RunBuilt(arm64, "setup", {"-silent"}, root,
                           {{"TEMP", root + "/temp"},
                            {"ZORVEX_REGISTRY", root + "/registry"},
                            {"ZORVEX_DEMO_EXIT", exit}});
    EXPECT_EQ(r.status, std::atoi(exit)) << r.out << r.err;
    EXPECT_NE(r.out.find("The demo installer ends with status " + std::string(exit) + "."),
              std::string::npos)
        << r.out << r.err;
    const std::string java =
        layout == std::string("plain") ? disk + "/jre" : root + "/temp/ZorInstall";
    EXPECT_NE(r.out.find("Java:        " + java), std::string::npos) << r.out;
    for (const auto& e : fs::directory_iterator(root + "/temp")) {
      EXPECT_NE(e.path().filename().string().rfind("ZorInstall", 0), 0u) << e.path();
    }
  }
}

// The builder takes no launcher, unzip or runtime of another processor than the target's,
// and jlink makes a runtime for another processor only from that processor's jmods.
TEST(Arm64Test, BuildRefusesProgramsOfAnotherProcessor) {
  REQUIRE_ARM64(false);
  Medium m(BuiltTargets()[0]);
  const std::string native = NativeBuild();
  // Runtimes whose java is a program for x86-64 and for arm64 (the launchers will do).
  for (const auto& [dir, program] : {std::pair{m.root + "/rt-x86", native + "/setup"},
                                     {m.root + "/rt-arm", kArm64Build + "/setup"}}) {
    Spit(dir + "/release", "JAVA_VERSION=\"17.0.2\"\n");
    fs::create_directories(dir + "/bin");
    fs::copy_file(program, dir + "/bin/java");
  }
  Spit(m.root + "/in/zorinstaller.jar", "installer");
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {"x86-64 launcher, arm64 medium",
       {"--target", "linux-arm64", "--launcher-dir", native, "--runtime", m.root + "/rt-arm"},
       "the launcher directory's setup (" + native +
           "/setup) is a program for x86-64, and the "
           "medium is for arm64"},
      {"x86-64 runtime, arm64 medium",
       {"--target", "linux-arm64", "--launcher-dir", kArm64Build, "--runtime", m.root + "/rt-x86"},
       "the runtime's java (" + m.root +
           "/rt-x86/bin/java) is a program for x86-64, and the "
           "medium is for arm64"},
      {"arm64 runtime, x86-64 medium",
       {"--target", "linux", "--launcher-dir", native, "--runtime", m.root + "/rt-arm"},
       "is a program for arm64, and the medium is for x86-64 (--target linux-arm64 makes an "
       "arm64 medium)"},
      {"jlink for arm64 without arm64 jmods",
       {"--target", "linux-arm64", "--launcher-dir", kArm64Build, "--jlink-modules", "java.base"},
       "jlink makes a runtime for this machine's system only"},
  };
  for (const auto& c : cases) {
    for (const char* layout : {"plain", "distribution"}) {
      std::vector<std::string> args = {"build",
                                       "--out",
                                       m.root + "/out",
                                       "--layout",
                                       layout,
                                       "--installer-jar",
                                       m.root + "/in/zorinstaller.jar"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      RunResult r = RunBuilt(BuiltTargets()[0], "zorvex-medium", args, m.root);
      EXPECT_EQ(r.status, 2) << c.name << " " << layout;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
      EXPECT_FALSE(fs::exists(m.root + "/out")) << c.name;
    }
  }
}

// The check holds the unzip and the runtime, staged from a jar or in place, to the
// launcher's processor: an x86-64 medium given an arm64 launcher is reported unsound.
TEST(Arm64Test, CheckReportsProgramsOfAnotherProcessor) {
  REQUIRE_ARM64(false);
  Medium m(BuiltTargets()[0]);
  const std::string native = NativeBuild();
  Spit(m.jre_dir + "/release", "JAVA_VERSION=\"17.0.2\"\n");  // java: the x86-64 stand-in
  Spit(m.root + "/in/zorinstaller.jar", "installer");
  for (const char* layout : {"plain", "distribution"}) {
    SCOPED_TRACE(layout);
    const std::string out = m.root + "/" + layout;
    RunResult built = RunBuilt(BuiltTargets()[0], "zorvex-medium",
                               {"build", "--out", out, "--layout", layout, "--runtime", m.jre_dir,
                                "--installer-jar", m.root + "/in/zorinstaller.jar"},
                               m.root);
    ASSERT_EQ(built.status, 0) << built.err;
    const bool plain = layout == std::string("plain");
    const std::string disk = plain ? out : out + "/Disk1";
    fs::copy_file(kArm64Build + "/setup", disk + "/setup", fs::copy_options::overwrite_existing);
    if (!plain) {
      fs::copy_file(kArm64Build + "/unzip", disk + "/unzip", fs::copy_options::overwrite_existing);
    }
    RunResult r = RunBuilt(BuiltTargets()[0], "zorvex-medium", {"check", disk}, m.root);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("The medium is for Linux on arm64"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("is a program for x86-64, and the launcher one for arm64: Java cannot "
                         "start where the launcher runs."),
              std::string::npos)
        << r.out;
    EXPECT_EQ(
        r.out.find("The unzip beside the launcher is a program for x86-64") != std::string::npos,
        plain)
        << r.out;
  }
}

}  // namespace
}  // namespace zorvex::blackbox
