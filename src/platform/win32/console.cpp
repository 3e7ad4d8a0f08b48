#include <conio.h>

#include <cstdio>

#include "platform/win32/win32.h"

namespace zorvex::platform {

namespace {

constexpr int kConversionUnits = 1023;
constexpr SHORT kBufferColumns = 80;
constexpr SHORT kBufferLines = 2000;
constexpr SHORT kVisibleLines = 40;

void BindStream(const char* device, const char* mode, FILE* stream) {
  if (std::freopen(device, mode, stream) != nullptr) std::setvbuf(stream, nullptr, _IONBF, 0);
}

}  // namespace

void Win32Console::UseStandardOutput() { output_ = GetStdHandle(STD_OUTPUT_HANDLE); }

void Win32Console::Create(const std::string& title) {
  AllocConsole();
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(out, &info);
  SetConsoleScreenBufferSize(out, COORD{kBufferColumns, kBufferLines});
  SetConsoleTitleA(title.c_str());
  SMALL_RECT window = info.srWindow;
  window.Bottom = static_cast<SHORT>(window.Top + kVisibleLines);
  SetConsoleWindowInfo(out, TRUE, &window);
  BindStream("CONOUT$", "w", stdout);
  BindStream("CONIN$", "r", stdin);
  BindStream("CONOUT$", "w", stderr);
  output_ = GetStdHandle(STD_OUTPUT_HANDLE);
}

void Win32Console::Print(const std::string& utf8) {
  static wchar_t buffer[kConversionUnits];
  int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, buffer, kConversionUnits);
  if (output_ == nullptr || output_ == INVALID_HANDLE_VALUE) return;
  if (units > 0) {
    DWORD written = 0;
    if (WriteConsoleW(output_, buffer, static_cast<DWORD>(units - 1), &written, nullptr)) return;
    // Output redirected to a file or pipe is no console: the UTF-8 bytes go there as they
    // are, instead of being lost.
    WriteFile(output_, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    return;
  }
  WriteStdout(utf8);
}

void Win32Console::WriteStdout(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

void Win32Console::WriteStderr(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

void Win32Console::FlushStdout() { std::fflush(stdout); }

void Win32Console::ShowMessageBox(const std::string& title, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

int Win32Console::ReadChar() { return std::getchar(); }

// A console in session 0 (a service's, a deployment agent's running as SYSTEM) or on a
// window station that shows nothing is seen by nobody, whoever made it.
bool Win32Console::PersonCanAnswer() {
  DWORD mode = 0, session = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return false;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0) return false;
  USEROBJECTFLAGS flags{};
  HWINSTA station = GetProcessWindowStation();
  return station != nullptr &&
         GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool Win32Console::IsInteractive() {
  DWORD mode = 0;
  return output_ != nullptr && output_ != INVALID_HANDLE_VALUE && GetConsoleMode(output_, &mode);
}

void Win32Console::DiscardPendingInput() {
  FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

}  // namespace zorvex::platform
