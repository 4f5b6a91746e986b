// The install stage: what the tail carries and the master folder does not
// hold yet is installed, behind the splash, each piece in a temporary folder
// renamed into place.
#pragma once

#include <string>

#include "launcher/install_steps.h"
#include "util/status.h"

namespace velmoran {

// Installs the updater, a JRE (from the tail, the system or a download) and
// the application, keeping each version that is installed already. Returns
// the newest installed updater's version folder, to hand over to.
Result<std::string> installFromTail(const InstallRun& run);

}  // namespace velmoran
