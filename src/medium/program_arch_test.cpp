#include "medium/program_arch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace zorvex::medium {
namespace {

// An ELF header up to its machine field.
std::string Elf(uint16_t machine, char data = 1) {
  std::string h = std::string(
                      "\x7f"
                      "ELF",
                      4) +
                  '\x02' + data + std::string(10, '\0');
  h += static_cast<char>(2);
  h += '\0';
  h += static_cast<char>(machine & 0xFF);
  h += static_cast<char>(machine >> 8);
  return h;
}

// A DOS stub naming its PE header at `pe`, then the signature and the machine.
std::string Pe(uint16_t machine, uint32_t pe = 0x80) {
  std::string h(0x100, '\0');
  h[0] = 'M';
  h[1] = 'Z';
  for (int i = 0; i < 4; ++i) h[0x3c + i] = static_cast<char>((pe >> (8 * i)) & 0xFF);
  if (pe + 6 <= h.size()) {
    h.replace(pe, 4, std::string("PE\0\0", 4));
    h[pe + 4] = static_cast<char>(machine & 0xFF);
    h[pe + 5] = static_cast<char>(machine >> 8);
  }
  return h;
}

TEST(ProgramArchTest, ReadsTheHeaderOfEitherSystem) {
  const struct {
    const char* name;
    std::string head;
    Arch arch;
  } cases[] = {
      {"ELF x86-64", Elf(62), Arch::kX86_64},
      {"ELF aarch64", Elf(183), Arch::kArm64},
      {"ELF 32-bit ARM", Elf(40), Arch::kUnknown},
      {"ELF big-endian", Elf(62, 2), Arch::kUnknown},
      {"ELF cut short", Elf(183).substr(0, 19), Arch::kUnknown},
      {"PE x86-64", Pe(0x8664), Arch::kX86_64},
      {"PE arm64", Pe(0xAA64), Arch::kArm64},
      {"PE i386", Pe(0x014c), Arch::kUnknown},
      {"PE header beyond the bytes read", Pe(0x8664, 0xFFFFFFF0u), Arch::kUnknown},
      {"PE header at the last bytes", Pe(0x8664, 0x100 - 6), Arch::kX86_64},
      {"script", "#!/bin/sh\nexec java \"$@\"\n", Arch::kUnknown},
      {"empty", "", Arch::kUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgramArch(c.head), c.arch) << c.name;
}

TEST(ProgramArchTest, KnowsThisProgram) {
#ifndef _WIN32
  EXPECT_EQ(FileArch("/proc/self/exe"), ThisProgramArch());
#endif
  EXPECT_EQ(FileArch("/no/such/program"), Arch::kUnknown);
  EXPECT_EQ(TargetArch("linux-arm64"), Arch::kArm64);
  EXPECT_EQ(TargetArch("windows"), Arch::kX86_64);
}

// What a medium is for comes from its launcher's header alone: a file of the other
// launcher's name beside it (a decoy, a leftover) neither decides nor hides it.
TEST(ProgramArchTest, MediumTargetFromTheLaunchersHeader) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("zorvex-target-" + std::to_string(std::random_device{}()));
  const std::string absent = "\x01";
  const struct {
    const char* name;
    std::string setup_exe, setup;
    System system;
    std::string launcher;
    bool both;
  } cases[] = {
      {"Windows", Pe(0x8664), absent, System::kWindows, "setup.exe", false},
      {"Linux arm64", absent, Elf(183), System::kLinux, "setup", false},
      {"an empty setup beside a Windows launcher", Pe(0x8664), "", System::kWindows, "setup.exe",
       false},
      {"a script setup.exe beside a Linux launcher", "#!/bin/sh\n", Elf(62), System::kLinux,
       "setup", false},
      {"each name a launcher", Pe(0x8664), Elf(62), System::kUnknown, "", true},
      {"a Linux program named setup.exe", Elf(62), absent, System::kUnknown, "", false},
      {"no launcher", absent, absent, System::kUnknown, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& [name, bytes] : {std::pair{"setup.exe", c.setup_exe}, {"setup", c.setup}}) {
      if (bytes != absent) std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    const MediumTarget t = MediumTargetOf(dir);
    EXPECT_EQ(t.system, c.system);
    EXPECT_EQ(t.launcher, c.launcher);
    EXPECT_EQ(t.both, c.both);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zorvex::medium
