// The install decision and the extraction of what the tail carries.
#pragma once

#include <optional>
#include <string>

#include "launcher/driver.h"

namespace velmoran {

// Compares the tail's versions with what the master folder holds, then
// either hands over at once or extracts and hands over. Never returns.
[[noreturn]] void decideAndInstall(TailRun& run);

// Where the updater's own files are used from during an extraction: its
// version folder once it is renamed into place.
struct UpdaterFiles {
  std::string folder;
  std::string lzma = {};     // the LZMA decompressor, folder/lzma64
  std::string cacerts = {};  // the CA store that replaces a JRE's, folder/cacerts
};

// Steps shared by the updater, the JRE and the application.

// Extracts the next tail entry into destination. False when it held an
// archive whose signature was refused (destination is then emptied).
bool extractTailEntry(TailRun& run, const std::string& lzma, const std::optional<std::string>& unpack200,
                      const std::string& destination);

// Keeps an installed version of a component, with a record, and reads past
// its tail entries (this many; 0 for one that did not come from the tail):
// its folder is not written.
void keepInstalled(TailRun& run, const std::string& versionFolder, int entries);

// Reads past the next tail entry without extracting it; the run ends with
// status 1 when it is not there whole.
void skipTailEntry(TailRun& run);

// Renames a finished temporary folder onto its version folder. When the
// rename falls back to a copy that fails too, the run ends with status 1:
// nothing partial may stand under a final name. When the version folder is
// there already, it is kept and the temporary folder goes.
void moveIntoPlace(const std::string& temporary, const std::string& versionFolder);

// Removes a temporary folder whose content must not be installed.
void discardFolder(const std::string& folder);

// A fresh temporary folder in the master folder; the run ends with status 1
// when none can be made.
std::string newTemporaryFolder(const TailRun& run);

bool isVersionNumber(const std::string& text);

}  // namespace velmoran
