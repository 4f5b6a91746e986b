// The launch file of a startable version folder and the LSO file that lists
// extra JVM options for launches with one private JRE: their names, field
// labels, format versions and readers. Both are NUL-terminated text fields in
// a fixed order, read with the tail field readers; no header, no lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "util/fields.h"

namespace velmoran {

// In the version folder, next to what it starts.
constexpr const char* kLaunchFileName = "VelmoranLaunch";
// The LSO file is master/"VLApps"/kLsoFilePrefix + the JRE's version folder name.
constexpr const char* kLsoFolderName = "VLApps";
constexpr const char* kLsoFilePrefix = "JRE-LastSuccessfulOptions-";

// Format versions of the launch file. Every version has the fields up to the
// extra arguments; each later version adds fields after them.
constexpr int64_t kLaunchFileFirstVersion = 1;
constexpr int64_t kLaunchFileLatestVersion = 6;
constexpr int64_t kVersionWithCompatibilityClass = 3;
constexpr int64_t kVersionWithInstallClasses = 4;
constexpr int64_t kVersionWithAppJvmOptions = 5;
constexpr int64_t kVersionWithMustFork = 6;

// Field labels, in file order.
constexpr const char* kLaunchVersionLabel = "LaunchFile VER";
constexpr const char* kLaunchClassLabel = "Class";
constexpr const char* kLaunchClassOnUpdateLabel = "Class OnUpdate";
constexpr const char* kLaunchAppNameLabel = "App Name";
constexpr const char* kLaunchOsIcnsLabel = "OS ICNS";
constexpr const char* kLaunchUrlRequiredLabel = "URL Required";
constexpr const char* kLaunchJvmMemLabel = "jvmMem (old)";
constexpr const char* kLaunchJvmStackLabel = "jvmStack (old)";
constexpr const char* kLaunchClasspathCountLabel = "Classpath Count";
constexpr const char* kLaunchClasspathEntryLabel = "Classpath Entry";
constexpr const char* kLaunchExtraArgsCountLabel = "Extra Args Count";
constexpr const char* kLaunchExtraArgsEntryLabel = "Extra Args Entry";
constexpr const char* kLaunchCompatibilityClassLabel = "Main Class JRECompatibility";
constexpr const char* kLaunchPostInstallClassLabel = "Main Class PostInstall";
constexpr const char* kLaunchPreUninstallClassLabel = "Main Class PreUninstall";
constexpr const char* kLaunchAppJvmOptionCountLabel = "App JVM Option Count";
constexpr const char* kLaunchAppJvmOptionEntryLabel = "App JVM Option Entry";
constexpr const char* kLaunchMustForkLabel = "Must Fork";
constexpr const char* kLsoCountLabel = "LSO Count";
constexpr const char* kLsoEntryLabel = "LSO Entry";

// The longest text and number that read back whole. The reader stops a field
// one byte short of its buffer and leaves the NUL for the next field, so a
// value filling the buffer but for its NUL already splits; writers refuse it.
constexpr std::size_t kLaunchTextMaxLength = kDefaultFieldSize - 2;
constexpr std::size_t kLaunchNumberMaxLength = kIntFieldSize - 2;

// Everything a launch file of versions 1 to 6 holds. Counts are not stored:
// they are the sizes of the lists. A field of a later version than `version`
// is neither read nor written.
struct LaunchFile {
  int64_t version = kLaunchFileLatestVersion;
  std::string mainClass;       // "Class": started by a launch
  std::string classOnUpdate;   // not used by the launcher
  std::string appName;         // file name of the app binary in the private JRE's bin
  std::string osIcns;          // not used by the launcher
  bool urlRequired = false;    // not used by the launcher
  int64_t jvmMem = 0;          // "-Xmx" megabytes when greater than 0
  int64_t jvmStack = 0;        // "-Xms" megabytes (the initial heap) when greater than 0
  std::vector<std::string> classpath;  // relative to the app directory
  std::vector<std::string> extraArgs;  // passed after the launch properties file
  std::string compatibilityClass;      // version 3: started by a JRE compatibility check
  std::string postInstallClass;        // version 4, not used by the launcher
  std::string preUninstallClass;       // version 4, not used by the launcher
  std::vector<std::string> appJvmOptions;  // version 5, not used by the launcher
  bool mustFork = false;                   // version 6, not used by the launcher
};

// The counts as the file states them. They may be 0 or negative (no entries),
// or promise more entries than the file holds: reading then stops at its end.
struct LaunchFileCounts {
  int64_t classpath = 0;
  int64_t extraArgs = 0;
  int64_t appJvmOptions = 0;
};

struct LaunchFileReading {
  LaunchFile file;
  LaunchFileCounts counts;
};

// Reads a whole launch file. A file that ends early gives empty fields from
// there on; a list stops at the end of the file (the entry that ran into it
// is kept), whatever its count says. Logs nothing.
LaunchFileReading readLaunchFile(FILE* stream);

struct LsoFile {
  std::vector<std::string> options;  // JVM options, one argument each
};

struct LsoFileReading {
  LsoFile file;
  int64_t count = 0;  // "LSO Count" as the file states it
};

// Reads a whole LSO file, stopping at its end as readLaunchFile does.
LsoFileReading readLsoFile(FILE* stream);

// True when reading stopped at the end of the file before the count was met.
bool countCutShort(int64_t count, std::size_t entriesRead);
// Logs that the count exceeds the file, when it did; nothing otherwise.
void logCountCutShort(const char* countLabel, int64_t count, std::size_t entriesRead);

// The App Name is the file name the app binary gets in the private JRE's bin
// folder: a name that could leave bin (or is bin itself) is refused.
bool isAppBinaryName(const std::string& name);

// appDir joined with kLaunchFileName.
std::string launchFilePath(const std::string& appDir);
// master/VLApps/JRE-LastSuccessfulOptions- followed by the text after the last
// "/" of the JRE folder (the whole text when it has none).
std::string lsoFilePath(const std::string& masterFolder, const std::string& jreFolder);

}  // namespace velmoran
