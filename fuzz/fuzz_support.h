// What the fuzz targets share: quiet readers, and a scratch folder per input
// for the readers that write.
#pragma once

#include <dirent.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "util/file.h"
#include "util/log.h"

namespace velmoran::fuzz {

// Every target calls this first: the records the readers print go nowhere
// (sanitizer reports go to standard error) unless VELMORAN_FUZZ_VERBOSE is
// set, for replaying one input.
inline void prepare() {
  if (std::getenv("VELMORAN_FUZZ_VERBOSE") != nullptr) return;
  setConsoleLogging(false);
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

// The names in a folder, "." and ".." left out.
inline std::set<std::string> folderNames(const std::string& folder) {
  std::set<std::string> names;
  if (DirPtr dir = openDir(folder.c_str())) {
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
  }
  return names;
}

// The folder that holds the scratch folders. As root it is a private tmpfs of
// bounded size in a mount namespace of our own, so an input that decompresses
// into gigabytes fills only that, and it is gone when the process ends.
// Otherwise it is a plain folder under /tmp.
inline const std::string& scratchBase() {
  // Never destroyed: the exit handler below still needs it.
  static const std::string& base = *[] {
    auto* path = new std::string("/tmp/velmoran-fuzz-" + std::to_string(getpid()));
    if (mkdir(path->c_str(), 0700) != 0) std::abort();
    if (unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
      mount("velmoran-fuzz", path->c_str(), "tmpfs", 0, "size=64m,mode=0700");
    }
    std::atexit([] {
      const std::string& folder = scratchBase();
      umount2(folder.c_str(), MNT_DETACH);
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    });
    return path;
  }();
  return base;
}

// A fresh folder for one input, base/run, with "in" for the input file and
// "out" for what the readers write; removed at the end. Any name that
// appears beside "in" and "out", or beside run in the base, was written
// outside the destination: the target stops there.
class Scratch {
 public:
  Scratch() : run_(scratchBase() + "/run") {
    if (!folderNames(scratchBase()).empty()) __builtin_trap();
    if (mkdir(run_.c_str(), 0700) != 0 || mkdir(in().c_str(), 0700) != 0 || mkdir(out().c_str(), 0700) != 0) {
      std::abort();
    }
  }
  ~Scratch() {
    if (folderNames(scratchBase()) != std::set<std::string>{"run"}) __builtin_trap();
    for (const std::string& name : folderNames(run_)) {
      if (name != "in" && name != "out") __builtin_trap();
    }
    std::error_code ignored;
    std::filesystem::remove_all(run_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  std::string in() const { return run_ + "/in"; }
  std::string out() const { return run_ + "/out"; }

  // Writes the input as in/name and returns its path.
  std::string writeInput(const std::string& name, const uint8_t* data, std::size_t size) const {
    const std::string path = in() + "/" + name;
    FilePtr file = openFile(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file.get()) != size || std::fclose(file.release()) != 0) std::abort();
    return path;
  }

 private:
  std::string run_;
};

}  // namespace velmoran::fuzz
