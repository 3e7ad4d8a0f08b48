// What one run knows: the platform it works through, its options, its temporary
// directory, the places it may touch, the guard of its medium, its logs and its
// catalogues. The run owns its context; a fresh context is a run's start, so no state of
// an earlier run (or an earlier test) is ever seen and nothing is reset by hand.
//
// The run's subsystems reach their part through their own accessors (Os(), Options(), the
// logs, the catalogue), which read the context of the run in progress: the one a RunScope
// has installed. Outside a scope there is no run, and reaching for one is a programming
// error that ends the process.
#pragma once

#include "access/guard.h"
#include "access/places.h"
#include "inventory/logs.h"
#include "messages/catalogue.h"
#include "options/option_state.h"
#include "paths/paths.h"
#include "platform/platform.h"

namespace zorvex {

struct RunContext {
  // What the run uses: the native platform or the test doubles it was made with, or the
  // guard of the medium built around them.
  platform::Platform platform;
  OptionState options;
  paths::TempDirectoryState temp;
  access::Places places;
  access::GuardState guard;
  inventory::LogState logs;
  messages::Catalogues catalogues;

  explicit RunContext(const platform::Platform& native) : platform(native) {}
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;
};

// Makes `context` the run in progress for the scope's life; the one before it (a test's,
// around a run the test starts) is in progress again afterwards.
class RunScope {
 public:
  explicit RunScope(RunContext* context);
  ~RunScope();
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  RunContext* previous_;
};

// The run in progress.
RunContext& CurrentRun();

}  // namespace zorvex
