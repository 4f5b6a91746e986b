#include "util/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include "util/exit.h"
#include "util/log.h"

namespace velmoran {

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

int makeDir(const std::string& path) {
  if (DIR* existing = opendir(path.c_str())) {
    closedir(existing);
    return 0;
  }
  const int result = mkdir(path.c_str(), 0777);
  chmod777(path);
  return result == 0 ? 0 : -1;
}

int chmod777(const std::string& path) {
  logMessage("[ChMod] Executing chmod 777 \"%s\"\n", path.c_str());
  return chmod(path.c_str(), 0777) == 0 ? 0 : -1;
}

}  // namespace velmoran
