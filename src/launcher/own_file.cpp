#include "launcher/own_file.h"

#include <cstdio>
#include <utility>

#include "util/log.h"

namespace velmoran {
namespace {

// The launcher file positioned after the marker; none when either cannot be done.
FilePtr openAtMarker(const std::string& path, const std::vector<unsigned char>& marker, const char* label,
                     const char* openFailure) {
  FilePtr stream = openForReading(path);
  if (!stream) {
    logMessage(openFailure, path.c_str());
    return nullptr;
  }
  if (scanToMarker(stream.get(), marker, label) < 0) return nullptr;
  return stream;
}

// Reads the Params section; paramsStart is where its marker starts.
Status readParams(const std::string& path, OwnFile& file, off_t& paramsStart) {
  FilePtr params = openAtMarker(
      path, allocAndInitParamsMarker(), "Params",
      "[Extractor] *********************** Failed to extract wrapper params - couldn't open file %s\n");
  if (!params) return Status::failure();
  paramsStart = ftello(params.get()) - static_cast<off_t>(kParamsMarkerLength);
  if (!paramsAreaIsWhole(params.get())) {
    logError("[Extractor] The launcher file %s is cut short or damaged: no end marker after its Params "
             "section; refusing to run it\n",
             path.c_str());
    return Status::failure();
  }
  Result<DynamicParams> read = readDynamicParams(params.get(), file.properties);
  if (!read.ok()) return read.status();
  file.params = std::move(*read);
  return Status::success();
}

Status readHeader(const std::string& path, off_t paramsStart, OwnFile& file) {
  constexpr const char* kOpenFailure =
      "[Extractor] ************************* Failed to extract wrapper tail - couldn't open file %s\n";
  FilePtr tail = openAtMarker(path, allocAndInitMarker(), "Tail", kOpenFailure);
  if (!tail) return Status::failure();
  file.tailMarkerAt = ftello(tail.get()) - static_cast<off_t>(kTailMarkerLength);
  logMessage("[Extractor] Found tail marker\n");
  file.tail = endTailAtParams(std::move(tail), paramsStart);
  if (!file.tail) {
    logMessage(kOpenFailure, path.c_str());
    return Status::failure();
  }
  file.header = readTailHeader(file.tail.get());
  if (std::feof(file.tail.get()) || std::ferror(file.tail.get())) {
    logError("[Extractor] The launcher file %s is cut short or damaged: its tail header does not end before "
             "its Params section; refusing to run it\n",
             path.c_str());
    return Status::failure();
  }
  return Status::success();
}

}  // namespace

Result<OwnFile> readOwnFile(const Invocation& invocation) {
  OwnFile file;
  if (const Status read = readParams(invocation.launcherPath, file, file.paramsStart); !read.ok()) return read;
  if (invocation.prepareOnly) {
    logMessage(
        "[Extractor] This is an elevated run purely to prepare an installation. Will not show UI or "
        "launch an app\n");
  }
  logMessage("\n");
  logStartSection("Extracting wrapper tail\n");
  if (const Status read = readHeader(invocation.launcherPath, file.paramsStart, file); !read.ok()) return read;
  return file;
}

}  // namespace velmoran
