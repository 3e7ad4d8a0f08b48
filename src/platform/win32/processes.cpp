#include "platform/command_line.h"
#include "platform/win32/win32.h"
#include "safetree/win32_text.h"

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

// A program path beyond 260 characters as CreateProcess takes it: its short (8.3) form
// where the volume keeps short names and that is short enough, else its long-path form.
std::wstring DeepProgramName(const std::string& path) {
  // Windows adds ".exe" to a program named without an extension only when it looks the
  // name up itself; a program named to it in full, as a deep one must be, gets it here.
  std::string program = path;
  const size_t leaf = program.find_last_of("\\/");
  if (program.find('.', leaf == std::string::npos ? 0 : leaf + 1) == std::string::npos) {
    program += ".exe";
  }
  const std::wstring full = LongPath(program);
  std::wstring shortened(full.size() + 1, L'\0');
  DWORD n = GetShortPathNameW(full.c_str(), shortened.data(), static_cast<DWORD>(shortened.size()));
  if (n == 0 || n >= shortened.size()) return full;
  shortened.resize(n);
  if (shortened.rfind(L"\\\\?\\", 0) == 0) shortened.erase(0, 4);
  return shortened.size() < MAX_PATH ? shortened : full;
}

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
  // A program beyond 260 characters (a runtime staged in a deep TEMP) is named to the wide
  // call in its long-path form; the command line it receives is the same.
  const std::vector<std::string> words = SplitWindowsCommandLine(command_line);
  const bool deep = !words.empty() && words[0].size() >= MAX_PATH;
  std::wstring wide_command = safetree::WideFrom(command, CP_ACP);
  STARTUPINFOW wide_startup{};
  wide_startup.cb = sizeof wide_startup;
  wide_startup.dwFlags = startup.dwFlags;
  wide_startup.wShowWindow = startup.wShowWindow;
  if (deep ? !CreateProcessW(DeepProgramName(words[0]).c_str(), wide_command.data(), nullptr,
                             nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                             &wide_startup, &info)
           : !CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                             CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info)) {
    *error = GetLastError();
    return nullptr;
  }
  CloseHandle(info.hThread);
  return std::make_unique<Win32Child>(info.hProcess);
}

// What stops a program before it runs on a hardened machine; MinGW's headers lack most.
constexpr DWORD kVirusInfected = 225;              // ERROR_VIRUS_INFECTED
constexpr DWORD kVirusDeleted = 226;               // ERROR_VIRUS_DELETED
constexpr DWORD kInvalidImageHash = 577;           // ERROR_INVALID_IMAGE_HASH
constexpr DWORD kNoSaferUiByPolicy = 786;          // ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY
constexpr DWORD kAccessDisabledByPolicy = 1260;    // ERROR_ACCESS_DISABLED_BY_POLICY

std::string Win32Processes::StartFailureText(uint32_t error) {
  char* buffer = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = n > 0 ? std::string(buffer, n) : "";
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  text = "system error " + std::to_string(error) + (text.empty() ? "." : ": " + text);
  if (!text.empty() && text.back() != '.') text += '.';
  switch (error) {
    case kAccessDisabledByPolicy:  // AppLocker, Software Restriction Policies
    case kNoSaferUiByPolicy:
    case kInvalidImageHash:  // Application Control: an unsigned or unknown program
      text += " A policy of this computer does not let this program run from there "
              "(AppLocker, Software Restriction Policies or Application Control): ask the "
              "administrator to allow it, or give -rscratchPath a directory the policy allows.";
      break;
    case kVirusInfected:
    case kVirusDeleted:
      text += " A security program took the file for a threat and blocked or removed it: "
              "ask the administrator to let the installer's files be, then run the installer "
              "again.";
      break;
    default:
      break;
  }
  return text;
}

}  // namespace zorvex::platform
