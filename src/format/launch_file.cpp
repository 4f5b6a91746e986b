#include "format/launch_file.h"

#include <cinttypes>

#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

// A read error ends the file as surely as its end does: either way every
// further read gives nothing, and a large count must not spin on it.
bool atEnd(FILE* stream) { return std::feof(stream) != 0 || std::ferror(stream) != 0; }

// The count's entries, or as many as the file holds. Memory grows with what is
// read, never with what the count promises.
std::vector<std::string> readEntries(FILE* stream, int64_t count, const char* entryLabel) {
  std::vector<std::string> entries;
  for (int64_t i = 0; i < count && !atEnd(stream); ++i) {
    entries.push_back(readString(stream, entryLabel));
  }
  return entries;
}

}  // namespace

LaunchFileReading readLaunchFile(FILE* stream) {
  LaunchFileReading reading;
  LaunchFile& f = reading.file;
  f.version = readInt(stream, kLaunchVersionLabel);
  f.mainClass = readString(stream, kLaunchClassLabel);
  f.classOnUpdate = readString(stream, kLaunchClassOnUpdateLabel);
  f.appName = readString(stream, kLaunchAppNameLabel);
  f.osIcns = readString(stream, kLaunchOsIcnsLabel);
  f.urlRequired = readBoolean(stream, kLaunchUrlRequiredLabel);
  f.jvmMem = readInt(stream, kLaunchJvmMemLabel);
  f.jvmStack = readInt(stream, kLaunchJvmStackLabel);

  reading.counts.classpath = readInt(stream, kLaunchClasspathCountLabel);
  f.classpath = readEntries(stream, reading.counts.classpath, kLaunchClasspathEntryLabel);
  reading.counts.extraArgs = readInt(stream, kLaunchExtraArgsCountLabel);
  f.extraArgs = readEntries(stream, reading.counts.extraArgs, kLaunchExtraArgsEntryLabel);

  if (f.version >= kVersionWithCompatibilityClass) {
    f.compatibilityClass = readString(stream, kLaunchCompatibilityClassLabel);
  }
  if (f.version >= kVersionWithInstallClasses) {
    f.postInstallClass = readString(stream, kLaunchPostInstallClassLabel);
    f.preUninstallClass = readString(stream, kLaunchPreUninstallClassLabel);
  }
  if (f.version >= kVersionWithAppJvmOptions) {
    reading.counts.appJvmOptions = readInt(stream, kLaunchAppJvmOptionCountLabel);
    f.appJvmOptions =
        readEntries(stream, reading.counts.appJvmOptions, kLaunchAppJvmOptionEntryLabel);
  }
  if (f.version >= kVersionWithMustFork) f.mustFork = readBoolean(stream, kLaunchMustForkLabel);
  return reading;
}

LsoFileReading readLsoFile(FILE* stream) {
  LsoFileReading reading;
  reading.count = readInt(stream, kLsoCountLabel);
  reading.file.options = readEntries(stream, reading.count, kLsoEntryLabel);
  return reading;
}

bool countCutShort(int64_t count, std::size_t entriesRead) {
  return count > 0 && entriesRead < static_cast<uint64_t>(count);
}

void logCountCutShort(const char* countLabel, int64_t count, std::size_t entriesRead) {
  if (!countCutShort(count, entriesRead)) return;
  logMessage("[Extractor] %s %" PRId64 " exceeds the file; stopping after %zu entries\n",
             countLabel, count, entriesRead);
}

bool isAppBinaryName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string launchFilePath(const std::string& appDir) { return setPath(appDir, kLaunchFileName); }

std::string lsoFilePath(const std::string& masterFolder, const std::string& jreFolder) {
  const std::size_t slash = jreFolder.rfind('/');
  const std::string name = slash == std::string::npos ? jreFolder : jreFolder.substr(slash + 1);
  return setPath(masterFolder, kLsoFolderName, kLsoFilePrefix + name);
}

}  // namespace velmoran
