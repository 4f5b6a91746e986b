#include "launcher/version_file.h"

#include <cerrno>
#include <cstdio>

#include "launcher/install_flow.h"
#include "util/exit.h"
#include "util/file.h"
#include "util/log.h"

namespace velmoran {
namespace {

constexpr std::size_t kMaxVersionLength = 50;

}  // namespace

std::string readDownloadedVersion(const std::string& path) {
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
      endRun(1);
    }
  }
  logMessage("\n");
  file.reset();
  logMessage("[JREDownload] JRE Version is %s\n", version.c_str());
  if (!version.empty() && !isVersionNumber(version)) {
    logError("[JREDownload] The JRE version %s from the server is not a version number\n", version.c_str());
    endRun(1);
  }
  return version;
}

}  // namespace velmoran
