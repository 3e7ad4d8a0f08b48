#include "medium/program_arch.h"

#include <cstdint>
#include <fstream>

namespace zorvex::medium {

namespace {

// The architecture of a header's machine number, given each format's numbers for ours.
Arch OfMachine(uint32_t machine, uint32_t x86_64, uint32_t arm64) {
  if (machine == x86_64) return Arch::kX86_64;
  if (machine == arm64) return Arch::kArm64;
  return Arch::kUnknown;
}

uint32_t Le(std::string_view bytes, size_t at, size_t size) {
  uint32_t v = 0;
  for (size_t i = size; i-- > 0;) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

}  // namespace

Arch ProgramArch(std::string_view head) {
  // ELF: the machine after the identification bytes, little-endian in both of ours.
  if (head.size() >= 20 &&
      head.substr(0, 4) ==
          "\x7f"
          "ELF" &&
      head[5] == 1) {
    return OfMachine(Le(head, 18, 2), 62, 183);
  }
  // PE: the DOS header names where the PE signature lies; the machine follows it.
  if (head.size() >= 64 && head.substr(0, 2) == "MZ") {
    const uint32_t pe = Le(head, 0x3c, 4);
    if (pe > head.size() - 6 || head.substr(pe, 4) != std::string_view("PE\0\0", 4)) {
      return Arch::kUnknown;
    }
    return OfMachine(Le(head, pe + 4, 2), 0x8664, 0xAA64);
  }
  return Arch::kUnknown;
}

std::string ProgramHead(const std::filesystem::path& file) {
  std::error_code ec;
  // Only a regular file: a pipe put where a program goes would never answer.
  if (!std::filesystem::is_regular_file(file, ec)) return "";
  std::ifstream in(file, std::ios::binary);
  std::string head(kArchHeadBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

Arch FileArch(const std::filesystem::path& file) { return ProgramArch(ProgramHead(file)); }

System ProgramSystem(std::string_view head) {
  if (ProgramArch(head) == Arch::kUnknown) return System::kUnknown;
  return head.substr(0, 2) == "MZ" ? System::kWindows : System::kLinux;
}

const char* SystemName(System system) {
  switch (system) {
    case System::kWindows:
      return "Windows";
    case System::kLinux:
      return "Linux";
    default:
      return "unknown";
  }
}

MediumTarget MediumTargetOf(const std::filesystem::path& disk) {
  const std::string windows = ProgramHead(disk / "setup.exe"), linux = ProgramHead(disk / "setup");
  const bool is_windows = ProgramSystem(windows) == System::kWindows;
  const bool is_linux = ProgramSystem(linux) == System::kLinux;
  MediumTarget t;
  t.both = is_windows && is_linux;
  if (is_windows == is_linux) return t;
  t.system = is_windows ? System::kWindows : System::kLinux;
  t.arch = ProgramArch(is_windows ? windows : linux);
  t.launcher = is_windows ? "setup.exe" : "setup";
  return t;
}

const char* ArchName(Arch arch) {
  switch (arch) {
    case Arch::kX86_64:
      return "x86-64";
    case Arch::kArm64:
      return "arm64";
    default:
      return "unknown";
  }
}

Arch TargetArch(const std::string& target) {
  return target == "linux-arm64" ? Arch::kArm64 : Arch::kX86_64;
}

}  // namespace zorvex::medium
