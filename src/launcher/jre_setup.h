// Providing the private JRE: from the tail, by adopting the system's, or by
// downloading one from the update URL.
#pragma once

#include <string>

#include "launcher/install_steps.h"
#include "util/status.h"

namespace velmoran {

// Leaves a JRE in its version folder in the master folder (one installed
// already is kept) and returns the path of its unpack200.
Result<std::string> setUpJre(const InstallRun& run, const UpdaterFiles& updater);

}  // namespace velmoran
