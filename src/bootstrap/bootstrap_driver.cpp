#include "bootstrap/bootstrap_driver.h"

namespace zorvex::bootstrap {

// STAND-IN until the bootstrap driver is built: nothing is staged and no setting is
// rewritten, so Java runs from the medium's own trees. It reports success.
int BootstrapFiles(const BootstrapRequest& /*request*/) { return 0; }

}  // namespace zorvex::bootstrap
