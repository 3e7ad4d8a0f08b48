// A DLL planted beside a program, as another user or a download would leave one in a
// Downloads folder: when the program loads it, it leaves a mark (the file named by
// ZORVEX_PLANTED_MARK). Built as bcrypt.dll for the tests of what Windows loads from where.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t mark[MAX_PATH];
  if (GetEnvironmentVariableW(L"ZORVEX_PLANTED_MARK", mark, MAX_PATH) > 0) {
    HANDLE h = CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  return TRUE;
}
