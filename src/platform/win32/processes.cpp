#include "platform/win32/win32.h"

namespace zorvex::platform {

namespace {

// Waits for the process while servicing messages sent to this thread, so that the
// launcher does not hang other programs that broadcast to every window.
uint32_t WaitServicingMessages(HANDLE process) {
  while (true) {
    DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) return 0;
    if (r == WAIT_FAILED) return GetLastError();
    if (r != WAIT_OBJECT_0 + 1) continue;
    MSG msg;
    // A WM_QUIT taken here is dropped: the launcher keeps waiting for its child.
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_QUIT) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

class Win32Child : public ChildProcess {
 public:
  explicit Win32Child(HANDLE process) : process_(process) {}
  uint32_t WaitForExit() override { return WaitServicingMessages(process_.get()); }
  bool ExitCode(uint32_t* code, uint32_t* error) override {
    DWORD value = 0;
    if (!GetExitCodeProcess(process_.get(), &value)) {
      *error = GetLastError();
      return false;
    }
    *code = value;
    return true;
  }

 private:
  ScopedHandle process_;
};

}  // namespace

std::unique_ptr<ChildProcess> Win32Processes::Start(const std::string& command_line, bool hidden,
                                                    uint32_t* error) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = hidden ? SW_HIDE : SW_SHOWNORMAL;
  // CreateProcess takes at most 32,767 characters with the terminating NUL; a longer line
  // is refused here, as Windows refuses it, rather than cut short as some emulations do.
  constexpr size_t kMaxCommandLine = 32767;
  if (command_line.size() >= kMaxCommandLine) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return nullptr;
  }
  PROCESS_INFORMATION info{};
  std::string command = command_line;  // CreateProcessA may write into its command line
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                      nullptr, nullptr, &startup, &info)) {
    *error = GetLastError();
    return nullptr;
  }
  CloseHandle(info.hThread);
  return std::make_unique<Win32Child>(info.hProcess);
}

}  // namespace zorvex::platform
