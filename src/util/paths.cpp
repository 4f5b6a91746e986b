#include "util/paths.h"

#include "util/log.h"

namespace velmoran {

bool pathFits(std::string_view path) {
  if (path.size() <= kMaxPathLength) return true;
  logError("[Utils] Path of %zu characters refused (at most %zu): %.120s...\n", path.size(),
           kMaxPathLength, std::string(path).c_str());
  return false;
}

void toNativePath(std::string& path) { (void)path; }

std::string& pathcat(std::string& base, std::string_view name) {
  std::string native(name);
  toNativePath(base);
  toNativePath(native);
  if (!base.empty() && base.back() != '/') base += '/';
  base += native;
  return base;
}

std::string setPath(std::string_view first) { return std::string(first); }

std::string setPath(std::string_view first, std::string_view second) {
  std::string path(first);
  return pathcat(path, second);
}

std::string setPath(std::string_view first, std::string_view second, std::string_view third) {
  std::string path(first);
  pathcat(path, second);
  return pathcat(path, third);
}

}  // namespace velmoran
