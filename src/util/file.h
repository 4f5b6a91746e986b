// Owning handles for C streams and folders, and the one way the launcher
// opens the files it reads and writes.
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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

// For the tools, which write only where their user says. The launcher works
// in folders other users may share (or have planted names in), and opens
// through the functions below instead.
inline FilePtr openFile(const char* path, const char* mode) { return FilePtr(std::fopen(path, mode)); }
inline DirPtr openDir(const char* path) { return DirPtr(opendir(path)); }

// A regular file opened for reading; a link at the name is followed (reading
// through it changes nothing). Anything else (a FIFO, a device, a socket, a
// folder unless orFolder) is refused with a record, and the open never waits
// for a FIFO's writer: it does not block, and the type is checked on the
// descriptor, not by name beforehand. Main thread only, as the logger is.
UniqueFd openRegularFile(const std::string& path, bool orFolder = false);
FilePtr openForReading(const std::string& path);

// A regular file opened for writing with exactly mode (set on the descriptor,
// whatever the umask). A link at the name is never followed; a FIFO, device,
// folder or a file with other hard links there is refused with a record.
// mustBeNew: the name must be free (O_EXCL), otherwise errno is EEXIST and no
// record is written; else an existing regular file is truncated.
UniqueFd openForWritingFd(const std::string& path, mode_t mode, bool mustBeNew);
FilePtr openForWriting(const std::string& path, mode_t mode, bool mustBeNew);
// The same for a name inside the folder open as the descriptor folder, which
// no link put at the folder's name later can redirect; folderPath is the
// folder's path for the records.
FilePtr openForWritingIn(int folder, const std::string& folderPath, const std::string& name, mode_t mode,
                         bool mustBeNew);

// A stream that reads on from where stream stands and reports the end of the
// input at offset end of the underlying file, as a file that ends there
// would; it seeks and tells positions in the underlying file's offsets. It
// owns the stream; none when it cannot be made.
FilePtr endStreamAt(FilePtr stream, off_t end);

// chmod(2) of a folder or a regular file without following a link at its name
// (a link planted there would carry the mode to any file on the system). A
// regular file with other hard links is refused for the same reason. 0 or -1.
int setFileMode(const std::string& path, mode_t mode);

// The bytes an unprivileged process may still write on the file system that
// holds path; none when it cannot be told.
std::optional<uint64_t> freeSpaceAt(const std::string& path);

// The mode of every folder the launcher creates and of the programs it marks
// executable. An install for all users ("perm_all", in /opt) is shared and
// needs 0777; an install in one user's home is that user's alone: 0755, so
// no other local user can put a version folder (which would be started) or
// anything else into it. The driver sets it from the install type before the
// first folder is made; until then it is 0755.
void setInstallMode(mode_t mode);
mode_t installMode();

// 0 when the folder exists afterwards (made now or before), -1 when mkdir failed.
// A new folder gets the install mode whatever the umask; an existing one is untouched.
int makeDir(const std::string& path);

// Creates exactly this folder, never reusing one: 0 when mkdir made it (then
// the install mode), -1 otherwise with mkdir's errno kept (EEXIST: something
// is there). The chmod record is logged either way, as makeDir always has.
int makeNewDir(const std::string& path);

// Sets the install mode on a folder or file with chmod(2), never through a
// link at its name, logging the command a shell would have run ("chmod 777"
// or "chmod 755"). Returns 0 on success, -1 on failure.
int chmod777(const std::string& path);
// The record of chmod777 alone, for a file whose mode was set as it was written.
void logChmod777(const std::string& path);

// Number of entries reading the folder yields, "." and ".." included; 0 when it cannot be opened.
long countFolderEntries(const char* path);

// What orders the files the launcher makes one per run: a key from the name
// (a greater key is newer), none for a name that is not of the kind.
using NameKey = std::optional<std::string> (*)(std::string_view name);

// Removes the older files of one kind from the folder open as folder
// (folderPath names it in the records), keeping the keep newest by keyOf.
// ownName, the file this run made (or ""), is never removed and counts as one
// of those kept. Only regular files are removed, by name from the folder's
// descriptor, so no link is followed; in a folder open to all users nothing
// else that stands there is touched. A file that cannot be removed is a
// record, not a failure. Returns how many were removed.
int removeAllButNewest(int folder, const std::string& folderPath, NameKey keyOf, std::size_t keep,
                       std::string_view ownName);

}  // namespace velmoran
