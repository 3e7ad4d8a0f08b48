#include "platform/win32/win32.h"

namespace zorvex::platform {

Platform NativePlatform() {
  static Win32FileSystem files;
  static Win32Processes processes;
  static Win32Registry registry;
  static Win32Console console;
  static Win32System system;
  Platform platform;
  platform.style = &kWindowsStyle;
  platform.files = &files;
  platform.processes = &processes;
  platform.registry = &registry;
  platform.console = &console;
  platform.system = &system;
  return platform;
}

}  // namespace zorvex::platform
