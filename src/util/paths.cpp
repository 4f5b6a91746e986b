#include "util/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

#include "util/exit.h"
#include "util/file.h"
#include "util/log.h"

namespace velmoran {
namespace {

mode_t currentInstallMode = 0755;

}  // namespace

void logChmod777(const std::string& path) {
  logMessage("[ChMod] Executing chmod %o \"%s\"\n", static_cast<unsigned>(currentInstallMode), path.c_str());
}

void checkPathLength(std::string_view path) {
  if (path.size() <= kMaxPathLength) return;
  logError("[Utils] Path of %zu characters refused (at most %zu): %.120s...\n", path.size(),
           kMaxPathLength, std::string(path).c_str());
  endRun(1);
}

void toNativePath(std::string& path) { (void)path; }

std::string& pathcat(std::string& base, std::string_view name) {
  std::string native(name);
  toNativePath(base);
  toNativePath(native);
  if (!base.empty() && base.back() != '/') base += '/';
  base += native;
  checkPathLength(base);
  return base;
}

std::string setPath(std::string_view first) {
  std::string path(first);
  checkPathLength(path);
  return path;
}

std::string setPath(std::string_view first, std::string_view second) {
  std::string path(first);
  return pathcat(path, second);
}

std::string setPath(std::string_view first, std::string_view second, std::string_view third) {
  std::string path(first);
  pathcat(path, second);
  return pathcat(path, third);
}

void setInstallMode(mode_t mode) { currentInstallMode = mode; }

mode_t installMode() { return currentInstallMode; }

int makeDir(const std::string& path) {
  checkPathLength(path);
  if (DIR* existing = opendir(path.c_str())) {
    closedir(existing);
    return 0;
  }
  return makeNewDir(path);
}

int makeNewDir(const std::string& path) {
  checkPathLength(path);
  if (mkdir(path.c_str(), currentInstallMode) == 0) {
    chmod777(path);
    return 0;
  }
  // Whatever is in the way (a file, a folder of another run) keeps its mode:
  // opening it to everyone is not ours to do.
  const int error = errno;
  logChmod777(path);
  errno = error;
  return -1;
}

int chmod777(const std::string& path) {
  logChmod777(path);
  return setFileMode(path, currentInstallMode);
}


}  // namespace velmoran
