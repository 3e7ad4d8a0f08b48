// Test helper for the Windows target under Wine: prints the short (8.3) form of the path
// it is given, as the file system makes it, or nothing when it has none.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  wchar_t buffer[32768];
  DWORD n = GetShortPathNameW(argv[1], buffer, 32768);
  if (n == 0 || n >= 32768) return 1;
  std::wstring shortened(buffer, n);
  std::wstring name = shortened.substr(shortened.find_last_of(L'\\') + 1);
  std::fwprintf(stdout, L"%ls", name.c_str());
  return 0;
}
