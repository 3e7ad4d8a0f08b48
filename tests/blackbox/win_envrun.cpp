// Test helper for the Windows target under Wine, which replaces TEMP and TMP of the Unix
// environment with its own. "envrun NAME=value ..." sets (or, for "NAME=", removes) the
// variables, then starts the command line held in ZORVEX_ENVRUN_COMMAND exactly as written,
// with this program's standard handles, waits for it and exits with its exit code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* text = std::getenv("ZORVEX_ENVRUN_COMMAND");
  if (text == nullptr) {
    std::fprintf(stderr, "envrun: ZORVEX_ENVRUN_COMMAND is not set\n");
    return 120;
  }
  std::string command = text;
  SetEnvironmentVariableA("ZORVEX_ENVRUN_COMMAND", nullptr);
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    size_t eq = word.find('=');
    if (eq == std::string::npos) continue;
    std::string value = word.substr(eq + 1);
    SetEnvironmentVariableA(word.substr(0, eq).c_str(), value.empty() ? nullptr : value.c_str());
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "envrun: cannot start %s (error %lu)\n", command.c_str(), GetLastError());
    return 121;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}
