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
// overwriting files of the same name. Links are copied as links; a link that
// stands at a destination path is replaced, never written through. 0, or
// non-zero at the first failure.
int copyFolder(const std::string& source, const std::string& destination);

// The same, but links in the source are followed, so the copy holds no link:
// a link to a folder becomes a copy of that folder, one to a file a copy of
// the file, and one that leads nowhere is skipped. A link back into a folder
// being copied fails the copy.
int copyFolderFollowingLinks(const std::string& source, const std::string& destination);

enum class RenameOutcome {
  Renamed,  // the source is now at the destination
  Copied,   // the rename kept failing; the contents were copied and the source removed
  Failed,   // the copy failed too; a destination it created is removed again
};

// rename, retried 10 times at 300 ms; then the contents are copied onto the
// destination.
RenameOutcome doRename(const std::string& source, const std::string& destination);

}  // namespace velmoran
