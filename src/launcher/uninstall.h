// Removing an install: the menu entry, its icon and the master folder.
#pragma once

#include "launcher/settings.h"
#include "util/status.h"

namespace velmoran {

// Refused (a failure, with a message) while the application runs; otherwise
// each piece removed is a line on standard output.
Status uninstall(const RunSettings& run);

}  // namespace velmoran
