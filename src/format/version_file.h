// The JRE version file downloaded from the update server.
#pragma once

#include <string>

#include "util/status.h"

namespace velmoran {

// Reads the version text: up to the first blank or line end, at most 50
// characters, and nothing but digits (it becomes part of folder names and
// URLs); empty when the file is empty or cannot be opened. A longer text, or
// one that is not a number, is a failure.
Result<std::string> readDownloadedVersion(const std::string& path);

// True for a text of decimal digits only, at least one: a version.
bool isVersionNumber(const std::string& text);

}  // namespace velmoran
