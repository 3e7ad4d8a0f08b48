#include "options/option_state.h"

namespace zorvex {

namespace {
OptionState g_options;
}

OptionState& Options() { return g_options; }

void ResetOptions() { g_options = OptionState(); }

}  // namespace zorvex
