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
  return {.style = &kPosixStyle,
          .files = &files,
          .processes = &processes,
          .registry = &registry,
          .console = &console,
          .system = &system};
}

}  // namespace zorvex::platform
