// The POSIX entry: the arguments are joined into the one command-line text that a Windows
// user would have typed, and the run sequence gets it whole beside the module path.
#include <string>
#include <vector>

#include "launcher/run_sequence.h"
#include "platform/command_line.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  const zorvex::platform::Platform native = zorvex::platform::NativePlatform();
  std::string module_path;
  uint32_t error = 0;
  if (!native.system->ModulePath(&module_path, &error)) module_path = argc > 0 ? argv[0] : "";
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return zorvex::RunLauncher(native, {module_path, zorvex::platform::JoinArgumentsAsTyped(args)});
}
