#include <cstdlib>

#include "platform/posix/posix_platform.h"

namespace zorvex::platform {

Platform NativePlatform() {
  static PosixFileSystem files;
  static PosixProcesses processes;
  static PosixConsole console;
  static PosixSystem system;
  const char* root = std::getenv("ZORVEX_REGISTRY");
  static PosixRegistry registry(root != nullptr && *root != '\0' ? root : "/etc/zorvex/registry");
  Platform platform;
  platform.style = &kPosixStyle;
  platform.files = &files;
  platform.processes = &processes;
  platform.registry = &registry;
  platform.console = &console;
  platform.system = &system;
  return platform;
}

}  // namespace zorvex::platform
