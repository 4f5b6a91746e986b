#include "util/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {
namespace {

mode_t currentInstallMode = 0755;

// Ends a failed open with errno as the caller will see it.
UniqueFd refused(UniqueFd& fd, int error) {
  fd.reset();
  errno = error;
  return UniqueFd();
}

void logNotRegular(const char* action, const std::string& path) {
  logMessage("[Utils] Refusing to %s %s: it is not a regular file\n", action, path.c_str());
}

// The descriptor was opened without blocking only so that a FIFO could not
// hold the open; reads and writes of a regular file block as usual.
bool clearNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

FilePtr streamOf(UniqueFd fd, const char* mode) {
  if (!fd) return nullptr;
  FilePtr stream(fdopen(fd.get(), mode));
  if (stream) fd.release();
  return stream;
}

struct EndedStream {
  FilePtr in;
  off_t end;
  off_t at;  // the position in the underlying file
};

ssize_t readEnded(void* cookie, char* buffer, std::size_t size) {
  auto* s = static_cast<EndedStream*>(cookie);
  if (s->at >= s->end) return 0;
  const auto want = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(size), s->end - s->at));
  const std::size_t got = std::fread(buffer, 1, want, s->in.get());
  s->at += static_cast<off_t>(got);
  if (got == 0 && std::ferror(s->in.get())) return -1;
  return static_cast<ssize_t>(got);
}

int seekEnded(void* cookie, off64_t* offset, int whence) {
  auto* s = static_cast<EndedStream*>(cookie);
  off_t to = *offset;
  if (whence == SEEK_CUR) {
    to += s->at;
  } else if (whence == SEEK_END) {
    to += s->end;
  } else if (whence != SEEK_SET) {
    return -1;
  }
  if (to < 0 || fseeko(s->in.get(), to, SEEK_SET) != 0) return -1;
  s->at = to;
  *offset = to;
  return 0;
}

int closeEnded(void* cookie) {
  delete static_cast<EndedStream*>(cookie);
  return 0;
}

}  // namespace

FilePtr endStreamAt(FilePtr stream, off_t end) {
  const off_t at = stream ? ftello(stream.get()) : -1;
  if (at < 0) return nullptr;
  auto cookie = std::make_unique<EndedStream>(EndedStream{std::move(stream), end, at});
  cookie_io_functions_t io{};
  io.read = readEnded;
  io.seek = seekEnded;
  io.close = closeEnded;
  FilePtr ended(fopencookie(cookie.get(), "rb", io));
  if (ended) cookie.release();  // closing the stream deletes it
  return ended;
}

std::optional<uint64_t> freeSpaceAt(const std::string& path) {
  struct statvfs info {};
  if (statvfs(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

void logChmod777(const std::string& path) {
  logMessage("[ChMod] Executing chmod %o \"%s\"\n", static_cast<unsigned>(currentInstallMode), path.c_str());
}

void setInstallMode(mode_t mode) { currentInstallMode = mode; }

mode_t installMode() { return currentInstallMode; }

int makeDir(const std::string& path) {
  if (DIR* existing = opendir(path.c_str())) {
    closedir(existing);
    return 0;
  }
  return makeNewDir(path);
}

int makeNewDir(const std::string& path) {
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

long countFolderEntries(const char* path) {
  DirPtr dir = openDir(path);
  if (!dir) return 0;
  long count = 0;
  while (readdir(dir.get()) != nullptr) ++count;
  return count;
}

int removeAllButNewest(int folder, const std::string& folderPath, NameKey keyOf, std::size_t keep,
                       std::string_view ownName) {
  // A listing of its own: readdir must not move the offset of the caller's descriptor.
  UniqueFd listing(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DirPtr dir(listing ? fdopendir(listing.get()) : nullptr);
  if (!dir) {
    logMessage("[Utils] Unable to list %s to remove old files: %s\n", folderPath.c_str(), std::strerror(errno));
    return 0;
  }
  listing.release();
  const auto regularFile = [folder](const char* name) {
    struct stat st {};
    return fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
  };
  // What else has a name of the kind (a link, a folder) takes no place among those kept.
  std::vector<std::pair<std::string, std::string>> found;  // key, name
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name == ownName) continue;
    std::optional<std::string> key = keyOf(name);
    if (key && regularFile(entry->d_name)) found.emplace_back(std::move(*key), name);
  }
  const std::size_t others = ownName.empty() || keep == 0 ? keep : keep - 1;
  if (found.size() <= others) return 0;
  std::sort(found.begin(), found.end(), std::greater<>());
  int removed = 0;
  for (std::size_t i = others; i < found.size(); ++i) {
    const std::string& name = found[i].second;
    // unlinkat removes a link put there meanwhile, never what it leads to.
    if (unlinkat(folder, name.c_str(), 0) == 0) {
      ++removed;
    } else if (errno != ENOENT) {  // another run may have removed it first
      logMessage("[Utils] Unable to remove the old file %s: %s\n", setPath(folderPath, name).c_str(),
                 std::strerror(errno));
    }
  }
  return removed;
}

UniqueFd openRegularFile(const std::string& path, bool orFolder) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return fd;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return refused(fd, errno);
  if (!S_ISREG(st.st_mode) && !(orFolder && S_ISDIR(st.st_mode))) {
    logNotRegular("read", path);
    return refused(fd, EINVAL);
  }
  if (!clearNonBlocking(fd.get())) return refused(fd, errno);
  return fd;
}

FilePtr openForReading(const std::string& path) { return streamOf(openRegularFile(path), "rb"); }

namespace {

// name counts from the folder open as folder (AT_FDCWD: the working
// directory); path is what the records show.
UniqueFd openForWritingAt(int folder, const char* name, const std::string& path, mode_t mode, bool mustBeNew) {
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (mustBeNew ? O_EXCL : 0);
  // Nothing is truncated before the checks: what stands at the name may not be ours.
  UniqueFd fd(openat(folder, name, flags, 0600));
  if (!fd) {
    const int error = errno;
    if (error == ELOOP) {
      logMessage("[Utils] Refusing to write %s: a link stands at its name\n", path.c_str());
    } else if (error == ENXIO || error == EISDIR) {
      logNotRegular("write", path);  // a FIFO without a reader, a socket, a folder
    }
    errno = error;
    return fd;
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return refused(fd, errno);
  if (!S_ISREG(st.st_mode)) {
    logNotRegular("write", path);
    return refused(fd, EINVAL);
  }
  if (st.st_nlink > 1) {
    logMessage("[Utils] Refusing to write %s: it has other names (hard links)\n", path.c_str());
    return refused(fd, EMLINK);
  }
  if (!mustBeNew && st.st_size > 0 && ftruncate(fd.get(), 0) != 0) return refused(fd, errno);
  // An existing file that has the mode already keeps it, whoever owns it.
  if ((st.st_mode & 07777) != mode && fchmod(fd.get(), mode) != 0) return refused(fd, errno);
  if (!clearNonBlocking(fd.get())) return refused(fd, errno);
  return fd;
}

}  // namespace

UniqueFd openForWritingFd(const std::string& path, mode_t mode, bool mustBeNew) {
  return openForWritingAt(AT_FDCWD, path.c_str(), path, mode, mustBeNew);
}

FilePtr openForWriting(const std::string& path, mode_t mode, bool mustBeNew) {
  return streamOf(openForWritingFd(path, mode, mustBeNew), "wb");
}

FilePtr openForWritingIn(int folder, const std::string& folderPath, const std::string& name, mode_t mode,
                         bool mustBeNew) {
  return streamOf(openForWritingAt(folder, name.c_str(), setPath(folderPath, name), mode, mustBeNew), "wb");
}

int setFileMode(const std::string& path, mode_t mode) {
  // O_PATH opens without reading or blocking, and leaves a link at the name as
  // the link itself.
  UniqueFd fd(open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return -1;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return -1;
  if (S_ISLNK(st.st_mode)) {
    logMessage("[Utils] Refusing to change the mode of %s: a link stands at its name\n", path.c_str());
    errno = ELOOP;
    return -1;
  }
  if (!S_ISDIR(st.st_mode) && !(S_ISREG(st.st_mode) && st.st_nlink == 1)) {
    logMessage("[Utils] Refusing to change the mode of %s: it is not a folder or a file of its own\n",
               path.c_str());
    errno = EINVAL;
    return -1;
  }
  // fchmod takes no O_PATH descriptor; its name under /proc leads to the very
  // file that was opened, whatever is put at path meanwhile.
  return chmod(format("/proc/self/fd/%d", fd.get()).c_str(), mode) == 0 ? 0 : -1;
}

}  // namespace velmoran
