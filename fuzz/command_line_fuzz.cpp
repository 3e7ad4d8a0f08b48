// Fuzzes the option scan, the assignments and the Windows command-line rules with
// arbitrary command-line texts, on both path styles. Splitting what QuoteWindowsArgument
// wrote must give the arguments back: that round trip is checked, not only survived.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/settings.h"
#include "doubles/fake_platform.h"
#include "launcher/java_command.h"
#include "options/option_state.h"
#include "launcher/options.h"
#include "platform/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorvex;
  if (size == 0) return 0;
  const bool windows = data[0] & 1;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  testing::FakePlatform fake(windows ? &platform::kWindowsStyle : &platform::kPosixStyle);

  std::vector<std::string> args = {fake.system_.module_path, text};
  std::string last_upper;
  ScanOptions(&args, &last_upper);
  config::Settings settings;
  settings.install_class = "I";
  SelectMode(&settings);
  JavaCommandInputs in;
  in.settings = &settings;
  in.executable_name = "java";
  in.arguments = args;
  BuildJavaArguments(in);

  std::vector<std::string> split = platform::SplitWindowsCommandLine("prog " + text);
  std::string line = "prog";
  for (size_t i = 1; i < split.size(); ++i) line += " " + platform::QuoteWindowsArgument(split[i]);
  if (platform::SplitWindowsCommandLine(line) != split) std::abort();
  return 0;
}
