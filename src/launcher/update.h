// The check for updates that the updater has the installed launcher run:
// the update channel's signed manifest is read from the update URL, and
// what it lists newer than what is installed is downloaded, checked against
// the manifest and installed as version folders, as the tail's pieces are.
#pragma once

#include "launcher/entry.h"
#include "launcher/settings.h"
#include "util/status.h"

namespace velmoran {

// Checks the channel and installs what it has newer. With a key in the file
// the manifest must be signed with it, and nothing it does not list is
// installed; an archive whose size or digest differ from the manifest's is
// refused before anything of it is extracted, and a version lower than the
// installed one only when the manifest says rollback. Each version
// installed is a line "Updated ..." on standard output. Old versions beyond
// the newest two of each component, not in use, are removed. showProgress:
// the splash shows the downloads' progress. A failure when the check cannot
// be made or something was refused; what was installed before stays.
Status checkForUpdates(const Invocation& invocation, const RunSettings& run, bool showProgress);

}  // namespace velmoran
