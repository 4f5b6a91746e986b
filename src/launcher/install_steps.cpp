#include "launcher/install_steps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/extract.h"
#include "install/locations.h"
#include "platform/fileops.h"
#include "util/log.h"

namespace velmoran {

Status TailEntries::requireNext() {
  // Entries are taken by position: one that the header promises must be
  // there, or every later one would be missing or misread.
  FILE* tail = stream_.get();
  const int next = std::getc(tail);
  if (next == EOF || next == '\0') {
    logError("[Extractor] The launcher file %s is cut short or damaged: its tail ends where an entry should "
             "start; refusing to install from it\n",
             launcherPath_.c_str());
    return Status::failure();
  }
  std::ungetc(next, tail);
  return Status::success();
}

Result<bool> TailEntries::extractNext(const std::string& lzma, const std::optional<std::string>& unpack200,
                                      const std::string& destination) {
  if (const Status there = requireNext(); !there.ok()) return there;
  return extractArchiveFileIgnoreSignature(lzma, unpack200, destination, stream_.get(), key_);
}

Status TailEntries::skipNext() {
  if (const Status there = requireNext(); !there.ok()) return there;
  if (skipArchiveEntry(stream_.get())) return Status::success();
  logError("[Extractor] The launcher file %s is cut short or damaged: an entry of its tail ends early; refusing "
           "to install from it\n",
           launcherPath_.c_str());
  return Status::failure();
}

Status keepInstalled(TailEntries& tail, const std::string& versionFolder, int entries) {
  const std::string name = versionFolder.substr(versionFolder.rfind('/') + 1);
  logMessage("[Extractor] %s is installed already; keeping it\n", name.c_str());
  for (int i = 0; i < entries; ++i) {
    if (const Status skipped = tail.skipNext(); !skipped.ok()) return skipped;
  }
  return Status::success();
}

Status moveIntoPlace(const std::string& temporary, const std::string& versionFolder) {
  switch (doRename(temporary, versionFolder)) {
    case RenameOutcome::Renamed:
    case RenameOutcome::Copied:
      return Status::success();
    case RenameOutcome::AlreadyThere:
      // Only a run that did not take its turn gets here: what stands there
      // is a whole install of the same version, and nothing is written into it.
      discardFolder(temporary);
      return Status::success();
    case RenameOutcome::Failed:
      break;
  }
  logError("[Extractor] Unable to put %s in place as %s; the install is not complete\n", temporary.c_str(),
           versionFolder.c_str());
  return Status::failure();
}

// Runs for one application take turns at installing: a second launcher
// started meanwhile waits for the first one's install, and then finds it in
// place, instead of extracting the same versions beside it and copying them
// over folders the first run has started from. The lock on the master folder
// goes with the process (its descriptor is not inherited by what it starts);
// where none can be taken the run goes on without. True when it waited.
bool takeInstallTurn(const std::string& masterFolder, UniqueFd& turn) {
  UniqueFd master(open(masterFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!master) return false;
  bool waited = false;
  if (flock(master.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return false;
    logMessage("[Extractor] Another run is installing into %s; waiting for it to finish\n", masterFolder.c_str());
    waited = true;
    int locked = 0;
    while ((locked = flock(master.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) return true;
  }
  turn = std::move(master);
  return waited;
}

void discardFolder(const std::string& folder) {
  deleteFolder(folder);
  rmdir(folder.c_str());
}

Result<std::string> newTemporaryFolder(const std::string& masterFolder) {
  std::optional<std::string> folder = createAppTempFolder(masterFolder, "", "");
  if (!folder) {
    logError("[Extractor] Unable to create a temporary folder in %s: %s\n", masterFolder.c_str(),
             std::strerror(errno));
    return Status::failure();
  }
  return *folder;
}

}  // namespace velmoran
