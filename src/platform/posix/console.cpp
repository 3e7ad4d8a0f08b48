#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "platform/posix/posix_platform.h"

namespace zorvex::platform {

void PosixConsole::UseStandardOutput() { have_output_ = true; }

// There is no console window to make on POSIX: the launcher writes to the terminal or
// file it was started with.
void PosixConsole::Create(const std::string& /*title*/) { have_output_ = true; }

void PosixConsole::Print(const std::string& utf8) {
  if (!have_output_) return;
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

void PosixConsole::WriteStdout(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

void PosixConsole::WriteStderr(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

void PosixConsole::FlushStdout() { std::fflush(stdout); }

void PosixConsole::ShowMessageBox(const std::string& title, const std::string& text) {
  std::string notice = title + "\n" + text;
  if (notice.empty() || notice.back() != '\n') notice.push_back('\n');
  WriteStderr(notice);
  // Only a person at a terminal can acknowledge the notice; scripts are not held up.
  if (::isatty(STDIN_FILENO)) {
    std::string line;
    ReadLine(*this, &line);
  }
}

int PosixConsole::ReadChar() { return std::getchar(); }

bool PosixConsole::PersonCanAnswer() { return ::isatty(STDIN_FILENO) != 0; }

bool PosixConsole::IsInteractive() { return have_output_ && ::isatty(STDOUT_FILENO); }

void PosixConsole::DiscardPendingInput() {
  if (::isatty(STDIN_FILENO)) ::tcflush(STDIN_FILENO, TCIFLUSH);
}

}  // namespace zorvex::platform
