#include "archive/entry_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "platform/fileops.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

constexpr std::size_t kArchiveBufferSize = 1000000;

// Entry data is copied through this one buffer, so no allocation depends on
// the size of a file. Nested archives are extracted only once the outer
// entry's copy is done, so it is never in use twice.
unsigned char archive_buffer[kArchiveBufferSize];

// A partly written file must never pass for an extracted one.
Status abandonFile(FilePtr& out, const std::string& outPath) {
  const int error = errno;
  out.reset();
  std::remove(outPath.c_str());
  logError("[ExtractArchiveFile] Unable to write %s: %s\n", outPath.c_str(), std::strerror(error));
  return Status::failure();
}

}  // namespace

Status dropLink(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return Status::success();
  if (unlink(path.c_str()) == 0) return Status::success();
  logError("[ExtractArchiveFile] Unable to remove the link %s: %s\n", path.c_str(), std::strerror(errno));
  return Status::failure();
}

Status createParentFolders(const std::string& destination, const std::string& path) {
  for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
    const std::string folder = setPath(destination, path.substr(0, at));
    if (const Status dropped = dropLink(folder); !dropped.ok()) return dropped;
    makeDir(folder);
  }
  return Status::success();
}

Status writeEntryData(FILE* stream, const std::string& outPath, const std::string& path, int64_t length) {
  if (const Status dropped = dropLink(outPath); !dropped.ok()) return dropped;
  // A link put there after dropLink is refused, not followed.
  FilePtr out = openForWriting(outPath, kExtractedFileMode, false);
  logMessage("\t[ExtractArchiveFile] Extracting to %s\n", outPath.c_str());
  if (!out) {
    logMessage("\t[ExtractArchiveFile] *************************** Unable to extract archive file %s (%ld), "
               "unable to open file for writing\n",
               path.c_str(), static_cast<long>(length));
    return Status::failure();
  }
  int64_t copied = 0;
  while (copied < length) {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(length - copied, kArchiveBufferSize));
    const std::size_t got = std::fread(archive_buffer, 1, want, stream);
    if (got == 0) {
      const bool unreadable = std::ferror(stream) != 0;
      out.reset();
      std::remove(outPath.c_str());
      logError("[ExtractArchiveFile] The archive ends after %" PRId64 " of the %" PRId64 " bytes of %s%s; "
               "nothing more is extracted\n",
               copied, length, path.c_str(), unreadable ? " (read error)" : "");
      return Status::failure();
    }
    if (std::fwrite(archive_buffer, 1, got, out.get()) != got) return abandonFile(out, outPath);
    copied += static_cast<int64_t>(got);
  }
  if (std::fflush(out.get()) != 0) return abandonFile(out, outPath);
  if (std::fclose(out.release()) != 0) return abandonFile(out, outPath);
  logChmodR755(outPath);
  return Status::success();
}

}  // namespace velmoran
