// What the medium tool needs of the system it runs on, one source per host: starting a
// program with its output captured, a private temporary directory, the secret's pipe, the
// process's own facts. The rest of the tool holds no host-specific code.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace zorvex::medium::host {

// True on Windows.
bool IsWindows();
// A program's file name on this host: "jlink" or "jlink.exe".
std::string ProgramName(const std::string& name);

// This process's id, this host's name, and whether a process of that id may still run
// (false only when none does).
long ProcessId();
std::string HostName();
bool ProcessMayRun(long pid);

// A new directory of the tool's own in the temporary directory, for what a verification
// writes; empty when none can be made.
std::filesystem::path PrivateDirectory();

// The password in a pipe that a signer reads as a file (/dev/fd/N): it never lands on a
// disk. Its read end, or -1 with *error.
int PasswordPipe(const std::string& password, std::string* error);
void ClosePipe(int fd);

// Takes a variable out of the environment children inherit.
void Unsetenv(const char* name);
// Keeps the process from leaving a core file or being read by other processes of the user.
void KeepMemoryPrivate();

// dup, dup2 and close of the C runtime's file descriptors.
int DuplicateDescriptor(int fd);
void PutDescriptor(int from, int to);
void CloseDescriptor(int fd);

// The UTC calendar time of a moment.
std::tm UtcTime(std::time_t t);

}  // namespace zorvex::medium::host
