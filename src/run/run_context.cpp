#include "run/run_context.h"

#include <cstdio>
#include <cstdlib>

namespace zorvex {

namespace {
// The only process-wide pointer of the launcher's logic: which run is in progress. It
// owns nothing; the run's owner does.
RunContext* g_current = nullptr;
}  // namespace

RunScope::RunScope(RunContext* context) : previous_(g_current) { g_current = context; }

RunScope::~RunScope() { g_current = previous_; }

RunContext& CurrentRun() {
  if (g_current == nullptr) {
    std::fputs("internal error: no run is in progress\n", stderr);
    std::abort();
  }
  return *g_current;
}

}  // namespace zorvex
