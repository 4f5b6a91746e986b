#include "platform/fileops.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/clock.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

constexpr std::size_t kCopyChunk = 50000;
constexpr int kRenameRetries = 10;
constexpr int64_t kRenamePauseMs = 300;

// The walks pass over ".", ".." and any other two-character name starting with ".".
bool skippedEntry(const char* name) { return name[0] == '.' && (name[1] == '\0' || name[2] == '\0'); }

enum class EntryKind { Folder, Link, Other };

// Links are told apart from folders so that a walk never leaves the tree.
EntryKind kindOf(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return EntryKind::Other;
  if (S_ISLNK(info.st_mode)) return EntryKind::Link;
  return S_ISDIR(info.st_mode) ? EntryKind::Folder : EntryKind::Other;
}

// Copies in 50000-byte chunks; false on a read or write error.
bool copyStream(FILE* in, FILE* out) {
  std::vector<char> buffer(kCopyChunk);
  std::size_t got = 0;
  do {
    got = std::fread(buffer.data(), 1, buffer.size(), in);
    if (got > 0 && std::fwrite(buffer.data(), 1, got, out) != got) return false;
  } while (got == buffer.size());
  return std::ferror(in) == 0;
}

// Closes the destination, so that a failing final flush counts as a failed copy.
bool finishCopy(FilePtr out, bool copied) { return std::fclose(out.release()) == 0 && copied; }

int chmodEntry(const char* path, const struct stat*, int type, FTW* where) {
  // A link named at the top is followed, as a shell's chmod follows it; links
  // met inside the tree are left alone so no mode outside it changes, also
  // when one is put where the walk found a file or folder.
  if (where->level == 0) {
    chmod(path, 0755);
  } else if (type != FTW_SL && type != FTW_SLN) {
    setFileMode(path, 0755);
  }
  if (type == FTW_SL || type == FTW_SLN) return 0;
  // The walk opens a folder before it reports it, so one we could not read
  // comes here unwalked: now that it is opened up, walk it.
  if (type == FTW_DNR && openDir(path)) nftw(path, chmodEntry, 32, FTW_PHYS);
  return 0;
}

// A link in a copied tree stays a link, pointing where the source's pointed.
bool copyLink(const std::string& source, const std::string& destination) {
  std::vector<char> target(kMaxPathLength + 1);
  const ssize_t length = readlink(source.c_str(), target.data(), target.size());
  if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return false;
  if (kindOf(destination) != EntryKind::Folder) unlink(destination.c_str());
  return symlink(std::string(target.data(), static_cast<std::size_t>(length)).c_str(),
                 destination.c_str()) == 0;
}

// A file is copied to a new name beside its destination and renamed onto it
// once whole: a copy onto an installed folder that fails half-way (a full
// disk) leaves the installed file as it was, and a program running from that
// file keeps what it has open.
FilePtr createPartFile(const std::string& destination, mode_t mode, std::string& part) {
  part = destination + ".part-XXXXXX";
  if (!pathFits(part)) return nullptr;
  UniqueFd fd(mkstemp(part.data()));
  if (!fd) return nullptr;
  FilePtr out(fchmod(fd.get(), mode) == 0 ? fdopen(fd.get(), "wb") : nullptr);
  if (!out) {
    unlink(part.c_str());
    return nullptr;
  }
  fd.release();
  return out;
}

// Only a file of its own is replaced by a copy: a link, a device, a FIFO or a
// folder at the name was not put there by the launcher, and a file with
// other hard links would change under them too.
bool replaceableByCopy(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  if (S_ISREG(info.st_mode) && info.st_nlink == 1) return true;
  logMessage("[Utils] Refusing to write %s: it is not a regular file of its own\n", path.c_str());
  return false;
}

}  // namespace

void logChmodR755(const std::string& path) {
  logMessage("[ChMod] Executing chmod -R 755 \"%s\"\n", path.c_str());
}

void chmodR755(const std::string& path) {
  if (!pathFits(path)) return;
  logChmodR755(path);
  // Modes before descent, so a folder without x for us is opened up first.
  nftw(path.c_str(), chmodEntry, 32, FTW_PHYS);
}

bool doesFileExist(const std::string& path) {
  if (!pathFits(path)) return false;
  if (!openRegularFile(path, true)) return false;
  logMessage("File exists: %s\n", path.c_str());
  return true;
}

int deleteFolderAt(UniqueFd folder, const std::string& path, bool recordEach) {
  DirPtr dir(fdopendir(folder.get()));
  if (!dir) return 1;
  folder.release();
  const int at = dirfd(dir.get());
  while (const dirent* entry = readdir(dir.get())) {
    if (skippedEntry(entry->d_name)) continue;
    const std::string child = setPath(path, entry->d_name);
    struct stat info {};
    if (fstatat(at, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
      if (recordEach) logMessage("Deleting DIR %s\n", child.c_str());
      UniqueFd sub(openat(at, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (sub && deleteFolderAt(std::move(sub), child, recordEach) == 0) {
        unlinkat(at, entry->d_name, AT_REMOVEDIR);
      } else {
        logMessage("Failed to delete %s\n", child.c_str());
      }
    } else {
      if (recordEach) logMessage("Deleting FILE %s\n", child.c_str());
      if (unlinkat(at, entry->d_name, 0) != 0) logMessage("Failed to delete file %s\n", child.c_str());
    }
  }
  return 0;
}

int deleteFolder(const std::string& folder) {
  if (!pathFits(folder)) return 1;
  UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd || deleteFolderAt(std::move(fd), folder, true) != 0) {
    logMessage("[DeleteFolder] Deleting from '%s' is NULL\n", folder.c_str());
    return 1;
  }
  return 0;
}

bool copyFile(const std::string& source, const std::string& destination, mode_t mode, bool mustBeNew) {
  if (!pathFits(source) || !pathFits(destination)) return false;
  logMessage("[Extractor] Copying FILE %s\n", destination.c_str());
  FilePtr in = openForReading(source);
  if (!in) {
    logMessage("[Extractor] *************************** Unable to open source file for copy %s\n",
               source.c_str());
    return false;
  }
  std::string part;
  FilePtr out = replaceableByCopy(destination) ? createPartFile(destination, mode, part) : nullptr;
  if (!out) {
    logMessage(
        "[Extractor] *************************** Unable to open destination file for copy %s\n",
        destination.c_str());
    return false;
  }
  const bool whole = copyStream(in.get(), out.get());
  const bool copied = finishCopy(std::move(out), whole);
  // A new name is taken with link, which never replaces what stands there.
  const bool placed = copied && (mustBeNew ? link(part.c_str(), destination.c_str()) == 0
                                           : std::rename(part.c_str(), destination.c_str()) == 0);
  if (!placed || mustBeNew) unlink(part.c_str());
  if (!placed) {
    logMessage("[Extractor] *************************** Failed to copy %s to %s\n", source.c_str(),
               destination.c_str());
    return false;
  }
  return true;
}

namespace {

// A folder met again on the way down: following links, a link to one of its
// own ancestors would make the copy endless.
struct FolderId {
  dev_t device;
  ino_t inode;
  bool operator==(const FolderId&) const = default;
};

// What stands at a destination path is replaced, never written through: a
// link there would take the copy outside the destination.
void dropDestinationLink(const std::string& path) {
  if (kindOf(path) == EntryKind::Link) unlink(path.c_str());
}

int copyTree(const std::string& source, const std::string& destination, bool followLinks,
             std::vector<FolderId>& ancestors);

// One file of a copied tree: written beside its destination with its own
// kind of mode and renamed onto it once whole.
bool copyTreeFile(const std::string& from, const std::string& to) {
  FilePtr in = openForReading(from);
  if (!in) {
    logMessage("[CopyFolder] *************************** Unable to open source file for copy %s\n", from.c_str());
    return false;
  }
  struct stat source {};
  std::string part;
  FilePtr out =
      fstat(fileno(in.get()), &source) == 0 ? createPartFile(to, copiedFileMode(source.st_mode), part) : nullptr;
  if (!out) {
    logMessage("[CopyFolder] *************************** Unable to open destination file for copy %s\n", to.c_str());
    return false;
  }
  const bool copied = copyStream(in.get(), out.get());
  if (!finishCopy(std::move(out), copied) || std::rename(part.c_str(), to.c_str()) != 0) {
    unlink(part.c_str());
    logMessage("[CopyFolder] *************************** Failed to copy %s to %s\n", from.c_str(), to.c_str());
    return false;
  }
  return true;
}

// One entry of a copied tree; 0, or non-zero when the copy must stop.
int copyTreeEntry(const std::string& from, const std::string& to, bool followLinks,
                  std::vector<FolderId>& ancestors) {
  EntryKind kind = kindOf(from);
  if (kind == EntryKind::Link && followLinks) {
    struct stat target {};
    if (stat(from.c_str(), &target) != 0) {
      logMessage("[CopyFolder] Skipping %s: its link leads nowhere\n", from.c_str());
      return 0;
    }
    kind = S_ISDIR(target.st_mode) ? EntryKind::Folder : EntryKind::Other;
  }
  dropDestinationLink(to);
  if (kind == EntryKind::Folder) {
    logMessage("[CopyFolder] Copying DIR %s\n", to.c_str());
    if (const int made = makeDir(to); made != 0) {
      logMessage("[CopyFolder] *************************** Failed to copy %s to %s (could not create target "
                 "folder)\n",
                 from.c_str(), to.c_str());
      return made;
    }
    if (const int copied = copyTree(from, to, followLinks, ancestors); copied != 0) {
      logMessage("[CopyFolder] *************************** Failed to copy %s to %s\n", from.c_str(), to.c_str());
      return copied;
    }
    return 0;
  }
  logMessage("[CopyFolder] Copying FILE %s\n", to.c_str());
  if (kind != EntryKind::Link) return copyTreeFile(from, to) ? 0 : 1;
  if (copyLink(from, to)) return 0;
  logMessage("[CopyFolder] *************************** Failed to copy %s to %s\n", from.c_str(), to.c_str());
  return 1;
}

int copyTree(const std::string& source, const std::string& destination, bool followLinks,
             std::vector<FolderId>& ancestors) {
  if (!pathFits(source) || !pathFits(destination)) return 1;
  DirPtr dir = openDir(source.c_str());
  struct stat self {};
  if (!dir || fstat(dirfd(dir.get()), &self) != 0) {
    logMessage("[CopyFolder] SourceDir from '%s' is NULL\n", source.c_str());
    return 1;
  }
  const FolderId id{self.st_dev, self.st_ino};
  if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) {
    logMessage("[CopyFolder] *************************** %s leads back into a folder being copied\n",
               source.c_str());
    return 1;
  }
  ancestors.push_back(id);
  int result = 0;
  while (const dirent* entry = readdir(dir.get())) {
    if (skippedEntry(entry->d_name)) continue;
    result = copyTreeEntry(setPath(source, entry->d_name), setPath(destination, entry->d_name), followLinks,
                           ancestors);
    if (result != 0) break;
  }
  ancestors.pop_back();
  return result;
}

// A folder that holds anything: what a rename cannot replace.
bool isFolderWithContents(const std::string& path) {
  if (kindOf(path) != EntryKind::Folder) return false;
  DirPtr dir = openDir(path.c_str());
  if (!dir) return false;
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) return true;
  }
  return false;
}

// Empties the folder and removes it.
void removeFolder(const std::string& folder) {
  deleteFolder(folder);
  rmdir(folder.c_str());
}

}  // namespace

int copyFolder(const std::string& source, const std::string& destination) {
  std::vector<FolderId> ancestors;
  return copyTree(source, destination, false, ancestors);
}

int copyFolderFollowingLinks(const std::string& source, const std::string& destination) {
  std::vector<FolderId> ancestors;
  return copyTree(source, destination, true, ancestors);
}

mode_t copiedFileMode(mode_t sourceMode) { return (sourceMode & 0111) != 0 ? installMode() : kCopiedFileMode; }

RenameOutcome doRename(const std::string& source, const std::string& destination) {
  if (!pathFits(source) || !pathFits(destination)) return RenameOutcome::Failed;
  printWorkingDir();
  bool renamed = std::rename(source.c_str(), destination.c_str()) == 0;
  int error = errno;
  for (int retry = 0; !renamed; ++retry) {
    if (isFolderWithContents(destination)) {
      logMessage("[Rename] Could not rename '%s' to '%s' [%d]\n", source.c_str(), destination.c_str(), error);
      logMessage("[Rename] %s is there already; it is kept as it is\n", destination.c_str());
      return RenameOutcome::AlreadyThere;
    }
    if (retry == kRenameRetries) break;
    logMessage("[Rename] Could not rename '%s' to '%s' [%d]\n", source.c_str(), destination.c_str(), error);
    pauseBeforeRetry(kRenamePauseMs);
    renamed = std::rename(source.c_str(), destination.c_str()) == 0;
    error = errno;
  }
  if (renamed) {
    logMessage("[Rename] File '%s' renamed to '%s'\n", source.c_str(), destination.c_str());
    return RenameOutcome::Renamed;
  }
  logMessage("[Rename] [FAIL] Could not rename '%s' to '%s' [%d]\n", source.c_str(), destination.c_str(), error);
  logMessage("[Rename] Can do no better than a copy on this filesystem\n");
  dropDestinationLink(destination);
  const bool existed = kindOf(destination) == EntryKind::Folder;
  makeDir(destination);
  logMessage("[Rename] Created folder %s\n", destination.c_str());
  if (copyFolder(source, destination) != 0) {
    logMessage("[Rename] Copy failed too! Severe filesystem issues.\n");
    // A folder the copy made holds only part of the source: it must not pass
    // for a complete one.
    if (!existed) removeFolder(destination);
    return RenameOutcome::Failed;
  }
  logMessage("[Rename] Copied %s to %s\n", source.c_str(), destination.c_str());
  // The copy stands in for the move: the source goes, or every fallback
  // would leave a full copy of it behind.
  removeFolder(source);
  return RenameOutcome::Copied;
}

}  // namespace velmoran
