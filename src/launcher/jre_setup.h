// Providing the private JRE: from the tail, by adopting the system's, or by
// downloading one from the update URL.
#pragma once

#include <string>

#include "launcher/driver.h"
#include "launcher/install_flow.h"

namespace velmoran {

// Leaves a JRE in its version folder in the master folder and returns the
// path of its unpack200, or ends the run.
std::string setUpJre(TailRun& run, const UpdaterFiles& updater);

}  // namespace velmoran
