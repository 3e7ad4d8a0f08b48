#include "options/option_state.h"

#include "run/run_context.h"

namespace zorvex {

OptionState& Options() { return CurrentRun().options; }

}  // namespace zorvex
