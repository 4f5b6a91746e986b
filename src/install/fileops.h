// Operations on installed files and folders: modes, existence, emptying,
// copying and the rename with its copy fallback. Main thread only.
#pragma once

#include <string>

namespace velmoran {

// Mode 755 on path and everything below it, without a shell (the command a
// shell would run is still logged). Links inside the tree are not followed.
void chmodR755(const std::string& path);

// True when the path can be opened for reading; logs only when it can.
bool doesFileExist(const std::string& path);

// Empties the folder tree, leaving the folder itself. 1 when the folder cannot
// be opened, else 0; failures below it are logged only. Links are removed, never
// followed.
int deleteFolder(const std::string& folder);

// True when the whole file was copied (destination created or truncated).
bool copyFile(const std::string& source, const std::string& destination);

// Copies the contents of source into the existing destination, depth first,
// overwriting files of the same name. 0, or non-zero at the first failure.
int copyFolder(const std::string& source, const std::string& destination);

// rename, retried 10 times at 300 ms; then the contents are copied onto the
// destination and the source is left in place. The outcome is only logged.
void doRename(const std::string& source, const std::string& destination);

}  // namespace velmoran
