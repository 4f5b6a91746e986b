// Writing entries below an extraction's destination. A fault is a failure
// (status 1), with its record, and never leaves a partly written file behind.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "util/status.h"

namespace velmoran {

// Archives hold no links, so a link where an entry goes was put there by
// someone else; following it would write outside the destination. It is
// removed and the entry takes its place.
Status dropLink(const std::string& path);

// Creates the folders on the entry path's way below the destination.
Status createParentFolders(const std::string& destination, const std::string& path);

// Extracted files get mode 755 (set on the file as it is written).
constexpr mode_t kExtractedFileMode = 0755;

// Copies the entry's length data bytes from the stream into outPath (path is
// the entry's own, for the records) and gives the file kExtractedFileMode,
// logging the chmod record.
Status writeEntryData(FILE* stream, const std::string& outPath, const std::string& path, int64_t length);

}  // namespace velmoran
