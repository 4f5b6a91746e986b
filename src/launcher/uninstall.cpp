#include "launcher/uninstall.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "install/locations.h"
#include "launcher/desktop_entry.h"
#include "platform/fileops.h"
#include "util/file.h"
#include "util/log.h"

namespace velmoran {
namespace {

void removed(const std::string& path) {
  logMessage("[Uninstall] Removed %s\n", path.c_str());
  std::printf("Removed %s\n", path.c_str());
}

void removeFile(const std::string& path) {
  if (unlink(path.c_str()) == 0) {
    removed(path);
  } else if (errno != ENOENT) {
    logMessage("[Uninstall] Unable to remove %s: %s\n", path.c_str(), std::strerror(errno));
  }
}

}  // namespace

Status uninstall(const RunSettings& run) {
  if (isAnyInUse(run.masterFolder)) {
    logError("[Uninstall] %s is running; close it before uninstalling it\n", run.header.appName.c_str());
    std::fprintf(stderr, "%s is running; close it before uninstalling it\n", run.header.appName.c_str());
    return Status::failure();
  }
  if (const std::optional<DesktopEntryFiles> files = desktopEntryFiles(run)) {
    removeFile(files->entry);
    removeFile(files->icon);
  }
  // The run's own log file lies in the master folder: nothing more is logged.
  logMessage("[Uninstall] Removing %s\n", run.masterFolder.c_str());
  closeLoggedFile();
  setFileToLogTo(nullptr);
  UniqueFd master(open(run.masterFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!master || deleteFolderAt(std::move(master), run.masterFolder, false) != 0 ||
      rmdir(run.masterFolder.c_str()) != 0) {
    std::fprintf(stderr, "Unable to remove %s: %s\n", run.masterFolder.c_str(), std::strerror(errno));
    return Status::failure();
  }
  std::printf("Removed %s\n", run.masterFolder.c_str());
  return Status::success();
}

}  // namespace velmoran
