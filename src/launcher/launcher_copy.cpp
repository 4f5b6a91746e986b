#include "launcher/launcher_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "format/names.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {
namespace {

// Bytes [from, to) of the file, or none when they cannot all be read.
bool readRange(int fd, off_t from, off_t to, std::vector<unsigned char>& out) {
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(to - from));
  for (off_t at = from; at < to;) {
    const ssize_t got = pread(fd, out.data() + start + (at - from), static_cast<std::size_t>(to - at), at);
    if (got <= 0) return false;
    at += got;
  }
  return true;
}

// The copy's bytes: the program, the Tail marker, the header of just a
// launcher, and the Params section as it is.
bool copyBytes(const std::string& launcherPath, off_t tailMarkerAt, off_t paramsStart, const TailHeader& header,
               std::vector<unsigned char>& bytes) {
  UniqueFd own = openRegularFile(launcherPath);
  struct stat info {};
  if (!own || fstat(own.get(), &info) != 0 || tailMarkerAt < 0 || paramsStart <= tailMarkerAt) return false;
  TailHeader justALauncher = header;
  justALauncher.appVersion.clear();
  justALauncher.jreVersion.clear();
  justALauncher.guVersion.clear();
  const std::vector<unsigned char> marker = allocAndInitMarker();
  const std::vector<unsigned char> fields = tailHeaderBytes(justALauncher);
  if (!readRange(own.get(), 0, tailMarkerAt, bytes)) return false;
  bytes.insert(bytes.end(), marker.begin(), marker.end());
  bytes.insert(bytes.end(), fields.begin(), fields.end());
  return readRange(own.get(), paramsStart, info.st_size, bytes);
}

}  // namespace

void writeLauncherCopy(const std::string& launcherPath, off_t tailMarkerAt, off_t paramsStart,
                       const TailHeader& header, const std::string& masterFolder) {
  const std::string path = setPath(masterFolder, kLauncherCopyName);
  std::vector<unsigned char> bytes;
  if (!copyBytes(launcherPath, tailMarkerAt, paramsStart, header, bytes)) {
    logMessage("[Extractor] Unable to read %s for the installed launcher %s\n", launcherPath.c_str(), path.c_str());
    return;
  }
  const std::string part = format("%s.part-%ld", path.c_str(), static_cast<long>(getpid()));
  std::remove(part.c_str());
  FilePtr out = openForWriting(part, installMode(), true);
  bool written = out && std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
  written = out && std::fclose(out.release()) == 0 && written;
  if (!written || std::rename(part.c_str(), path.c_str()) != 0) {
    logMessage("[Extractor] Unable to write the installed launcher %s: %s\n", path.c_str(), std::strerror(errno));
    std::remove(part.c_str());
    return;
  }
  logMessage("[Extractor] Installed the launcher %s\n", path.c_str());
}

}  // namespace velmoran
