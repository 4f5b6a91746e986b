#include "format/version_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "util/file.h"
#include "util/log.h"

namespace velmoran {
namespace {

constexpr std::size_t kMaxVersionLength = 50;

}  // namespace

bool isVersionNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

Result<std::string> readDownloadedVersion(const std::string& path) {
  std::string version;
  FilePtr file = openForReading(path);
  if (!file) logMessage("[JREDownload] ************************** Unable to open version file! [%d]", errno);
  logMessage("[JREDownload] Extracting version: ");
  for (int c; file && (c = std::fgetc(file.get())) != EOF;) {
    logMessage("%c", c);
    if (c == '\r' || c == '\n' || c == ' ') {
      logMessage("\n[JREDownload] Spaces in version file, assuming EOF\n");
      break;
    }
    version += static_cast<char>(c);
    if (version.size() > kMaxVersionLength) {
      logMessage("\n[JREDownload] Version invalid (too long)\n");
      return Status::failure();
    }
  }
  logMessage("\n");
  file.reset();
  logMessage("[JREDownload] JRE Version is %s\n", version.c_str());
  if (!version.empty() && !isVersionNumber(version)) {
    logError("[JREDownload] The JRE version %s from the server is not a version number\n", version.c_str());
    return Status::failure();
  }
  return version;
}

}  // namespace velmoran
