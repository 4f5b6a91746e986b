#include "archive/stages.h"

#include <cerrno>
#include <cstring>

#include "archive/entry_output.h"
#include "archive/lzma.h"
#include "platform/fileops.h"
#include "platform/spawner.h"
#include "util/file.h"
#include "util/log.h"

namespace velmoran {

// A stale finalPath is removed first, so only what unpack200 writes now can
// pass the check.
Status unpackPacked(const std::optional<std::string>& unpack200, const std::string& packed,
                    const std::string& finalPath) {
  std::remove(finalPath.c_str());
  int result = -1;
  if (unpack200) {
    SpawnerPtr spawner = createSpawner();
    setSpawnerExe(*spawner, *unpack200);
    addSpawnerArg(*spawner, packed);
    addSpawnerArg(*spawner, finalPath);
    result = runSpawnerAndWait(*spawner);
    deleteSpawner(spawner);
  } else {
    logMessage("\t[ExtractArchiveFile] No unpack200 to unpack %s with\n", packed.c_str());
  }
  if (result != 0 || !doesFileExist(finalPath)) {
    if (result > 0) std::remove(finalPath.c_str());
    logMessage("\t[ExtractArchiveFile] ERROR: unpack200 (%s) does not exist!\n", finalPath.c_str());
    return Status::failure(kExitUnpack200Failed);
  }
  std::remove(packed.c_str());
  return Status::success();
}

Status decompressFile(const std::string& compressed, const std::string& decompressed) {
  std::optional<std::string> error;
  {
    FilePtr in = openForReading(compressed);
    if (const Status dropped = dropLink(decompressed); !dropped.ok()) return dropped;
    FilePtr out = in ? openForWriting(decompressed, kExtractedFileMode, false) : nullptr;
    if (!in || !out) {
      error = std::strerror(errno);
    } else {
      error = decodeLzmaAloneFile(in.get(), out.get());
      if (!error && std::fclose(out.release()) != 0) error = std::strerror(errno);
    }
  }
  std::remove(compressed.c_str());
  if (!error) return Status::success();
  std::remove(decompressed.c_str());
  logError("[ExtractArchiveFile] Unable to decompress %s: %s\n", compressed.c_str(), error->c_str());
  return Status::failure();
}

}  // namespace velmoran
