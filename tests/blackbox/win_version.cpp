// Test helper for the Windows target: prints the version that GetVersionExA reports to a
// program with setup.exe's manifest ("major.minor", then the service-pack name), so that
// tests under Wine expect what the system says rather than a version written into them.
#include <windows.h>

#include <cstdio>

int main() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return 1;
#pragma GCC diagnostic pop
  std::printf("%lu.%lu\n%s\n", info.dwMajorVersion, info.dwMinorVersion, info.szCSDVersion);
  return 0;
}
