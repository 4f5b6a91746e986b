// Owning handles for C streams and folders.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>

namespace velmoran {

struct FileCloser {
  void operator()(FILE* f) const noexcept {
    if (f != nullptr) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
  void operator()(DIR* d) const noexcept {
    if (d != nullptr) closedir(d);
  }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

inline FilePtr openFile(const char* path, const char* mode) { return FilePtr(std::fopen(path, mode)); }
inline DirPtr openDir(const char* path) { return DirPtr(opendir(path)); }

// Number of entries reading the folder yields, "." and ".." included; 0 when it cannot be opened.
long countFolderEntries(const char* path);

}  // namespace velmoran
