// The launcher's own tree copy and removal as commands, for timing them against cp and rm:
//   tree_ops_bench copy SOURCE DESTINATION
//   tree_ops_bench remove DIRECTORY
#include <cstdio>
#include <cstring>

#include "bootstrap/tree_ops.h"
#include "platform/platform.h"
#include "run/run_context.h"

int main(int argc, char** argv) {
  using namespace zorvex;
  RunContext context(platform::NativePlatform());
  RunScope scope(&context);
  if (argc == 4 && std::strcmp(argv[1], "copy") == 0)
    return bootstrap::CopyTree(argv[2], argv[3]) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "remove") == 0) {
    bootstrap::RemoveTree(argv[2]);
    return 0;
  }
  std::fprintf(stderr, "usage: tree_ops_bench copy SOURCE DESTINATION | remove DIRECTORY\n");
  return 2;
}
