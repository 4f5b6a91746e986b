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

// A JRE extracted into temporary made ready while it is still there and
// renamed onto versionFolder: without bin/java it is refused (a failure,
// and the folder goes); its class data archive is made, it gets the CA store
// caStore when that exists, and its modes.
Status placeJre(const std::string& temporary, const std::string& versionFolder, const std::string& caStore);

}  // namespace velmoran
