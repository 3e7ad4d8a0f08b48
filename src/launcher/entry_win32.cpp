// The Windows entry: a GUI program that hands its whole command line, never split, to the
// run sequence beside its own path.
#include "launcher/run_sequence.h"
#include "platform/platform.h"
#include "platform/win32/win32.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR command_line,
                   int /*show*/) {
  // Installers are started from download folders full of other files: load DLLs from the
  // system directory only, so that none planted beside setup.exe is picked up.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const zorvex::platform::Platform native = zorvex::platform::NativePlatform();
  std::string module_path;
  uint32_t error = 0;
  native.system->ModulePath(&module_path, &error);
  return zorvex::RunLauncher(native, {module_path, command_line != nullptr ? command_line : ""});
}
