#include "launch/launch.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "platform/fileops.h"
#include "install/locations.h"
#include "format/launch_file.h"
#include "platform/spawner.h"
#include "util/clock.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {
namespace {

constexpr int kLsoRetries = 5;
constexpr int64_t kLsoRetryPauseMs = 500;
// Options longer than this are logged cut, and passed whole.
constexpr std::size_t kLoggedOptionLength = 99;

// What a launch starts and where its JRE lies.
struct Executable {
  std::string path;
  std::string jreFolder;               // App only
  std::optional<std::string> lsoPath;  // App only
};

Result<Executable> chooseAppBinary(const std::string& masterFolder, const std::string& jreName,
                                   const std::string& appName) {
  const std::optional<std::string> latest = pickAndAllocLatestFromMaster(masterFolder, jreName);
  if (!latest) {
    logError("No private JRE available!\n");
    return Status::failure();
  }
  logMessage("[Extractor] Using private JRE %s\n", latest->c_str());
  // The app binary is written next to java: a name that could leave bin is refused.
  if (!isAppBinaryName(appName)) {
    logError("App Name '%s' of the launch file is not a file name\n", appName.c_str());
    return Status::failure();
  }
  Executable exe;
  exe.jreFolder = setPath(masterFolder, *latest);
  exe.path = setPath(exe.jreFolder, "bin", appName);
  // A copy of java made at the first launch with this JRE. copyFile puts
  // it in place whole or not at all: a launch killed during the copy leaves
  // no cut binary that later launches would take for it.
  if (!doesFileExist(exe.path) &&
      !copyFile(setPath(exe.jreFolder, "bin", "java"), exe.path, installMode(), true)) {
    logError("Error setting app binary executable!\n");
  }
  exe.lsoPath = lsoFilePath(masterFolder, *latest);
  logMessage("[Extractor] JRE LSO file is %s\n", exe.lsoPath->c_str());
  return exe;
}

std::string buildClasspath(const std::string& appDir, const std::vector<std::string>& entries) {
  std::string classpath;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) classpath += ':';
    classpath += setPath(appDir, entries[i]);
  }
  return classpath;
}

// An LSO file that exists but cannot be opened yet may be being written.
FilePtr openLsoFile(const std::string& path) {
  FilePtr file = openForReading(path);
  if (file || !doesFileExist(path)) return file;
  for (int retry = 0; retry < kLsoRetries; ++retry) {
    logMessage("[Extractor] LSO file does exist. Retrying (%d)...", retry);
    file = openForReading(path);
    if (file) break;
    pauseBeforeRetry(kLsoRetryPauseMs);
  }
  return file;
}

void addLsoOptions(const std::optional<std::string>& lsoPath, PropertiesBlock& properties,
                   std::vector<std::string>& argv) {
  logMessage("[Extractor] Checking LSO file\n");
  if (!lsoPath) {
    logError("Not a private JRE (no need to check for LSO file)\n");
    return;
  }
  logMessage("[Extractor] Reading %s\n", lsoPath->c_str());
  FilePtr file = openLsoFile(*lsoPath);
  if (!file) {
    logError("JRE LSO file does not exist\n");
    return;
  }
  logMessage("[Extractor] JRE LSO file exists\n");
  const LsoFileReading lso = readLsoFile(file.get());
  file.reset();
  const std::vector<std::string>& options = lso.file.options;
  logMessage("[Extractor] Found %ld JVM Options\n", static_cast<long>(lso.count));
  logCountCutShort(kLsoCountLabel, lso.count, options.size());
  // The Java side looks up as many options as the count says: it names only
  // those that are there when the file ended early.
  const long count = countCutShort(lso.count, options.size()) ? static_cast<long>(options.size())
                                                              : static_cast<long>(lso.count);
  addStaticProperty(properties, "jvm_options_count", format("%ld", count));
  for (std::size_t k = 0; k < options.size(); ++k) {
    const std::string& option = options[k];
    argv.push_back(option);
    const std::string name = format("jvm_options_%d", static_cast<int>(k));
    if (option.size() > kLoggedOptionLength) {
      logMessage("[Extractor] Launch Prop: %s = %.*s...\n", name.c_str(),
                 static_cast<int>(kLoggedOptionLength), option.c_str());
    } else {
      logMessage("[Extractor] Launch Prop: %s = %s\n", name.c_str(), option.c_str());
    }
    addStaticProperty(properties, name, option);
  }
}

// A start that failed is recorded in the log file too.
int startAndReturn(const std::vector<std::string>& argv) {
  pid_t pid = 0;
  const int error = startProcess(argv, pid);
  if (error != 0) {
    reopenLoggedFile();
    logError("Launch Error %d.\n", error);
    return error;
  }
  return 0;
}

// The log file goes on once the check is over: the install continues.
int startAndWait(const std::vector<std::string>& argv) {
  pid_t pid = 0;
  const int error = startProcess(argv, pid);
  if (error != 0) {
    reopenLoggedFile();
    logError("Launch Error %d.\n", error);
    return -1;
  }
  int status = 0;
  const pid_t waited = waitForProcess(pid, status);
  reopenLoggedFile();
  if (waited < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The launch file of the version folder, read whole: the records that follow
// come in the order of its fields.
Result<LaunchFileReading> readLaunchFileIn(const std::string& appDir) {
  const std::string launchPath = launchFilePath(appDir);
  FilePtr launchFile = openForReading(launchPath);
  if (!launchFile) {
    logError("Unable to open launch file %s\n", launchPath.c_str());
    return Status::failure();
  }
  return readLaunchFile(launchFile.get());
}

// The launch's properties: a copy of the request's, so that what one launch
// adds does not reach the next one.
PropertiesBlock launchPropertiesOf(const LaunchRequest& request, const std::string& appDir, const std::string& jre) {
  logMessage("[Extractor] Creating launch properties\n");
  PropertiesBlock launchProperties = request.properties;
  addStaticProperty(launchProperties, "update_url", request.staticUpdateUrl);
  if (request.staticUpdateUrl == "D" && request.dynamicUpdateUrl) {
    addDynamicProperty(launchProperties, "update_url", *request.dynamicUpdateUrl);
  }
  addStaticProperty(launchProperties, "app_dir", appDir);
  addStaticProperty(launchProperties, "jre_name", jre);
  addStaticProperty(launchProperties, "launched_from_dynprops", request.absoluteLauncherPath);
  return launchProperties;
}

void logArguments(const std::vector<std::string>& argv) {
  logMessage("[Extractor] Executable: %s\n", argv[0].c_str());
  for (std::size_t i = 0; i < argv.size(); ++i) {
    logMessage("[Extractor] Argument %d: %s\n", static_cast<int>(i), argv[i].c_str());
  }
}

// The fields after the extra arguments: the compatibility class is the only
// one used; the counts of the others are checked against the file.
void logLaterFields(const LaunchFileReading& reading) {
  const LaunchFile& lf = reading.file;
  if (lf.version >= kVersionWithCompatibilityClass) {
    logMessage("[Extractor] Read JRE compatibility class %s\n", lf.compatibilityClass.c_str());
  }
  if (lf.version >= kVersionWithAppJvmOptions) {
    logCountCutShort(kLaunchAppJvmOptionCountLabel, reading.counts.appJvmOptions, lf.appJvmOptions.size());
  }
}

// The java command line up to the class path: the executable, the heap
// sizes and the JVM options the launch file names for its program (a
// program the updater starts in its own JVM needs them there).
std::vector<std::string> commandLineStart(const Executable& exe, const LaunchFile& lf) {
  std::vector<std::string> argv{exe.path};
  if (lf.jvmMem > 0) argv.push_back(format("-Xmx%" PRId64 "m", lf.jvmMem));
  if (lf.jvmStack > 0) argv.push_back(format("-Xms%" PRId64 "m", lf.jvmStack));
  argv.insert(argv.end(), lf.appJvmOptions.begin(), lf.appJvmOptions.end());
  return argv;
}

// A list as a count and numbered entries: NAME_count, NAME_0, NAME_1, ...
void addListProperty(PropertiesBlock& properties, const std::string& name, const std::vector<std::string>& values) {
  addStaticProperty(properties, name + "s_count", std::to_string(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) addStaticProperty(properties, format("%s_%zu", name.c_str(), i), values[i]);
}

// What the updater learns of its own start: the folders it runs from and
// the heap and JVM options its java was given, to tell whether the
// application can run in its JVM.
void addUpdaterProperties(PropertiesBlock& properties, const std::string& appDir, const Executable& exe,
                          const LaunchFile& lf) {
  addStaticProperty(properties, "updater_folder", appDir);
  addStaticProperty(properties, "jre_folder", exe.jreFolder);
  addStaticProperty(properties, "updater_max_heap", std::to_string(std::max<int64_t>(lf.jvmMem, 0)));
  addStaticProperty(properties, "updater_initial_heap", std::to_string(std::max<int64_t>(lf.jvmStack, 0)));
  addListProperty(properties, "updater_jvm_option", lf.appJvmOptions);
}

}  // namespace

Result<int> launchFromLaunchFile(const LaunchRequest& request, const std::string& jre, LaunchClass launchClass) {
  const bool isApp = launchClass == LaunchClass::App;
  logStartSection("Launching");
  logMessage("[Extractor] Launching '%s' from master folder '%s' of class %d using JRE '%s'\n",
             request.versionFolder.c_str(), request.masterFolder.c_str(), static_cast<int>(launchClass), jre.c_str());
  const std::string appDir = setPath(request.masterFolder, request.versionFolder);
  const Result<LaunchFileReading> reading = readLaunchFileIn(appDir);
  if (!reading.ok()) return reading.status();
  const LaunchFile& lf = reading->file;

  Executable exe;
  if (isApp) {
    const Result<Executable> chosen = chooseAppBinary(request.masterFolder, jre, lf.appName);
    if (!chosen.ok()) return chosen.status();
    exe = *chosen;
  } else {
    exe.path = jre;
    logMessage("[Extractor] Checking for existing system JRE %s\n", jre.c_str());
  }

  std::vector<std::string> argv = commandLineStart(exe, lf);
  argv.push_back("-cp");
  logMessage("[Extractor] Building classpath\n");
  logCountCutShort(kLaunchClasspathCountLabel, reading->counts.classpath, lf.classpath.size());
  argv.push_back(buildClasspath(appDir, lf.classpath));
  PropertiesBlock launchProperties = launchPropertiesOf(request, appDir, jre);
  if (isApp) addUpdaterProperties(launchProperties, appDir, exe, lf);
  addLsoOptions(exe.lsoPath, launchProperties, argv);

  const std::size_t mainClassSlot = argv.size();
  argv.emplace_back();
  const Result<std::string> propertiesFile = writeLaunchPropertiesFile(launchProperties, appDir);
  if (!propertiesFile.ok()) return propertiesFile.status();
  argv.push_back(*propertiesFile);

  logMessage("[Extractor] Reading %ld extra args\n", static_cast<long>(reading->counts.extraArgs));
  logCountCutShort(kLaunchExtraArgsCountLabel, reading->counts.extraArgs, lf.extraArgs.size());
  argv.insert(argv.end(), lf.extraArgs.begin(), lf.extraArgs.end());
  logLaterFields(*reading);

  // Before version 3 a check has no class to run: the vector ends at the
  // empty main class, and nothing from there on reaches java.
  const bool endsAtMainClass = !isApp && lf.version < kVersionWithCompatibilityClass;
  argv[mainClassSlot] = isApp ? lf.mainClass : lf.compatibilityClass;
  logMessage("[Extractor] Appending %d command line args\n", static_cast<int>(request.userArgs.size()));
  argv.insert(argv.end(), request.userArgs.begin(), request.userArgs.end());
  logArguments(argv);
  if (endsAtMainClass) {
    logMessage("[Extractor] No JRE compatibility class before launch file version %" PRId64
               ": arguments from %d on are not passed\n",
               kVersionWithCompatibilityClass, static_cast<int>(mainClassSlot));
    argv.resize(mainClassSlot);
  }
  logMessage("[Extractor] This is a newer extractor... launchclass is %d\n", static_cast<int>(launchClass));

  if (isApp) {
    logMessage("[Extractor] JRE folder is %s\n", exe.jreFolder.c_str());
    logMessage("[Extractor] Attempting spawn launch\n");
    logStartSection("Spawn launch\n");
    closeLoggedFile();
    return startAndReturn(argv);
  }
  closeLoggedFile();
  return startAndWait(argv);
}

void addApplicationProperties(PropertiesBlock& properties, const std::string& masterFolder,
                              const std::string& appName) {
  const std::optional<std::string> newest = pickAndAllocLatestFromMaster(masterFolder, appName);
  if (!newest) return;
  const std::string appDir = setPath(masterFolder, *newest);
  FilePtr file = openForReading(launchFilePath(appDir));
  if (!file) {
    logMessage("[Extractor] The application's launch file in %s cannot be read; the updater is not told of it\n",
               appDir.c_str());
    return;
  }
  const LaunchFile lf = readLaunchFile(file.get()).file;
  addStaticProperty(properties, "app_folder", *newest);
  addStaticProperty(properties, "app_version", format("%011" PRId64, pickVersionFromAppFolderName(*newest)));
  addStaticProperty(properties, "app_main_class", lf.mainClass);
  addStaticProperty(properties, "app_classpath", buildClasspath(appDir, lf.classpath));
  addStaticProperty(properties, "app_max_heap", std::to_string(std::max<int64_t>(lf.jvmMem, 0)));
  addStaticProperty(properties, "app_initial_heap", std::to_string(std::max<int64_t>(lf.jvmStack, 0)));
  addListProperty(properties, "app_jvm_option", lf.appJvmOptions);
  addListProperty(properties, "app_arg", lf.extraArgs);
}

Status launchApp(const LaunchRequest& request, const std::string& jreName) {
  const Result<int> started = launchFromLaunchFile(request, jreName, LaunchClass::App);
  if (!started.ok()) return started.status();
  return *started == 0 ? Status::success() : Status::failure();
}

Result<bool> checkAppJreCompatibility(const LaunchRequest& request, const std::string& java) {
  const Result<int> status = launchFromLaunchFile(request, java, LaunchClass::JreCompatibility);
  if (!status.ok()) return status.status();
  return *status == kJreCompatibleStatus;
}

}  // namespace velmoran
