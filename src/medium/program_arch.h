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
// "x86-64", "arm64" or "unknown".
const char* ArchName(Arch arch);
// The architecture of a --target value: "linux" and "windows" are x86-64.
Arch TargetArch(const std::string& target);

}  // namespace zorvex::medium
