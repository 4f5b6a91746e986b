#include "util/file.h"

namespace velmoran {

long countFolderEntries(const char* path) {
  DirPtr dir = openDir(path);
  if (!dir) return 0;
  long count = 0;
  while (readdir(dir.get()) != nullptr) ++count;
  return count;
}

}  // namespace velmoran
