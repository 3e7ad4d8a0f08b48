#include "platform/win32/win32.h"

namespace zorvex::platform {

Platform NativePlatform() {
  static Win32FileSystem files;
  static Win32Processes processes;
  static Win32Registry registry;
  static Win32Console console;
  static Win32System system;
  return {.style = &kWindowsStyle,
          .files = &files,
          .processes = &processes,
          .registry = &registry,
          .console = &console,
          .system = &system};
}

}  // namespace zorvex::platform
