// The Windows entry of the unzip: the command line as wide characters, so that paths
// beyond the ANSI code page arrive intact, handed on in UTF-8.
#include <windows.h>

#include <string>
#include <vector>

namespace zorvex::unzip {
int Main(const std::vector<std::string>& args);
}

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::wstring w = argv[i];
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    args.push_back(s);
  }
  return zorvex::unzip::Main(args);
}
