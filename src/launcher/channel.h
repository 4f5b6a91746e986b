// The update channel under the update URL, as the launcher reads it: the
// signed manifest, and the archives it lists, each checked against it. The
// check for updates and the download of a JRE both read it here.
#pragma once

#include <optional>
#include <string>

#include "format/manifest.h"
#include "launcher/settings.h"
#include "net/download.h"
#include "util/status.h"

namespace velmoran {

// The channel's manifest, fetched into the folder temporary: none when the
// server gives none (no channel published there, or no answer). A manifest
// that is there but not signed with the file's key, not a manifest, or of
// another application is a failure: it is hostile, not absent.
Result<std::optional<Manifest>> fetchManifest(const RunSettings& run, const std::string& temporary,
                                              DownloadProgress progress);

// The archive of a component the manifest lists, downloaded into the folder
// temporary: exactly the manifest's size and digest, or a failure before
// anything of it is extracted. Returns its path.
Result<std::string> downloadListedArchive(const RunSettings& run, const std::string& temporary,
                                          const ManifestComponent& component, DownloadProgress progress);

}  // namespace velmoran
