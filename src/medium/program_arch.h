// Which processor a program is built for, read from its header (ELF on Linux, PE on
// Windows), so that a medium's launcher, unzip and Java runtime can be held to one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zorvex::medium {

enum class Arch { kUnknown, kX86_64, kArm64 };

// The bytes a header takes to tell: the PE header may lie some way into the file.
inline constexpr size_t kArchHeadBytes = 4096;

// The architecture the program whose first bytes are `head` is built for; kUnknown for a
// script, a stand-in, a program of another processor or too few bytes.
Arch ProgramArch(std::string_view head);
// The first kArchHeadBytes of a regular file (none of anything else, or when it cannot be
// read): what ProgramArch and ProgramSystem read.
std::string ProgramHead(const std::filesystem::path& file);
// ProgramArch of the file's first bytes; kUnknown when it cannot be read.
Arch FileArch(const std::filesystem::path& file);
// The processor this program itself is built for.
constexpr Arch ThisProgramArch() {
#if defined(__aarch64__) || defined(_M_ARM64)
  return Arch::kArm64;
#else
  return Arch::kX86_64;
#endif
}
// The system a program is built for, from its header: a PE image of a processor this tool
// knows is a Windows program, such an ELF image a Linux program; kUnknown otherwise.
enum class System { kUnknown, kWindows, kLinux };
System ProgramSystem(std::string_view head);
// "Windows", "Linux" or "unknown".
const char* SystemName(System system);

// What a medium is for: the one rule that build, check and sign apply, read from the
// launcher program's own header, never from which names are there. Its launcher is its
// setup.exe when that is a Windows program, its setup when that is a Linux program; a
// file of the other name beside it is no launcher, whatever it holds.
struct MediumTarget {
  System system = System::kUnknown;  // kUnknown: neither is, or both are
  Arch arch = Arch::kUnknown;
  std::string launcher;  // "setup.exe" or "setup"; empty when the system is unknown
  bool both = false;     // each name holds a launcher program of its system
};
MediumTarget MediumTargetOf(const std::filesystem::path& disk);

// "x86-64", "arm64" or "unknown".
const char* ArchName(Arch arch);
// The architecture of a --target value: "linux" and "windows" are x86-64.
Arch TargetArch(const std::string& target);

}  // namespace zorvex::medium
