// Owning handles for C streams and folders.
#pragma once

#include <dirent.h>
#include <unistd.h>

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

// An owned file descriptor, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

inline FilePtr openFile(const char* path, const char* mode) { return FilePtr(std::fopen(path, mode)); }
inline DirPtr openDir(const char* path) { return DirPtr(opendir(path)); }

// Number of entries reading the folder yields, "." and ".." included; 0 when it cannot be opened.
long countFolderEntries(const char* path);

}  // namespace velmoran
