// Operations on installed files and folders: modes, existence, emptying,
// copying and the rename with its copy fallback. Main thread only.
#pragma once

#include <sys/types.h>

#include <string>

#include "util/file.h"

namespace velmoran {

// Mode 755 on path and everything below it, without a shell (the command a
// shell would run is still logged). Links inside the tree are not followed.
void chmodR755(const std::string& path);
// The record of chmodR755 alone, for a file whose mode was set as it was written.
void logChmodR755(const std::string& path);

// True when the path can be opened for reading (a regular file or a folder);
// logs only when it can. A FIFO or device counts as absent, with a record.
bool doesFileExist(const std::string& path);

// Empties the folder tree, leaving the folder itself. 1 when the folder cannot
// be opened (or is a link), else 0; failures below it are logged only. Links
// are removed, never followed: the walk goes from folder descriptor to folder
// descriptor, so a folder swapped for a link meanwhile is not entered.
int deleteFolder(const std::string& folder);
// The same on an open folder (path names it in the records). Without
// recordEach only failures are logged, not every entry removed.
int deleteFolderAt(UniqueFd folder, const std::string& path, bool recordEach);

// The mode of a copied file that is not executable; an executable one gets
// the install mode, so a program copied stays a program.
constexpr mode_t kCopiedFileMode = 0644;

// True when the whole file was copied: it is written under a new name beside
// the destination with exactly mode and renamed onto it once whole, so the
// destination is either as it was or the whole copy. Only a regular file of
// its own at the destination is replaced: a link, a FIFO, a device or a file
// with other hard links there is refused with a record. mustBeNew: nothing
// may stand at the destination yet, and nothing there is replaced.
bool copyFile(const std::string& source, const std::string& destination, mode_t mode = kCopiedFileMode,
              bool mustBeNew = false);

// Copies the contents of source into the existing destination, depth first,
// replacing files of the same name. Each file keeps whether it is executable
// (copiedFileMode), and is written beside its name and renamed onto it once whole, so a failed copy leaves every file there either
// as it was or fully replaced. Links are copied as links; a link that stands
// at a destination path is replaced, never written through. 0, or non-zero at
// the first failure.
int copyFolder(const std::string& source, const std::string& destination);

// The same, but links in the source are followed, so the copy holds no link:
// a link to a folder becomes a copy of that folder, one to a file a copy of
// the file, and one that leads nowhere is skipped. A link back into a folder
// being copied fails the copy.
int copyFolderFollowingLinks(const std::string& source, const std::string& destination);

// The mode a copy of a file of this mode gets.
mode_t copiedFileMode(mode_t sourceMode);

enum class RenameOutcome {
  Renamed,      // the source is now at the destination
  Copied,       // the rename kept failing; the contents were copied and the source removed
  Failed,       // the copy failed too; a destination it created is removed again
  AlreadyThere, // a folder that is not empty stands at the destination; both are left as they are
};

// rename, retried 10 times at 300 ms; then the contents are copied into the
// destination, made for them. A folder with contents at the destination is
// not retried and never written into: a version folder installed is never
// changed, and another attempt would meet it again.
RenameOutcome doRename(const std::string& source, const std::string& destination);

}  // namespace velmoran
