// The POSIX entry of the unzip: arguments as the system hands them.
#include <cstdio>
#include <string>
#include <vector>

namespace zorvex::unzip {
int Main(const std::vector<std::string>& args);
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = zorvex::unzip::Main(args);
  std::fflush(stdout);
  return status;
}
