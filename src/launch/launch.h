// The launch sequence: from a version folder's launch file to a running java.
#pragma once

#include <optional>
#include <string>

#include "launch/properties.h"

namespace velmoran {

enum class LaunchClass : int {
  App = 0,               // the launch file's "Class" through the private JRE's app binary
  JreCompatibility = 1,  // its compatibility class on a given java, waited for
};

// The status by which a compatibility class accepts the java it runs on.
constexpr int kJreCompatibleStatus = 72;

// Reads master/versionFolder/VelmoranLaunch, builds the java command line,
// writes the launch properties file (the incoming block plus the launch's own
// properties, on a copy) and starts java. The user arguments (argc of them,
// without the launcher's program name) follow everything else. jre is the JRE
// name (App) or the path of the java to test (JreCompatibility).
// App: 0 once the process is started, else the error number of the refused
// start; the process is not waited for. JreCompatibility: the exit status of
// the finished process, -1 when it could not be started or ended otherwise.
// A missing launch file or private JRE ends the run with 1, an unwritable
// properties file with 99.
int launchFromLaunchFile(const std::string& masterFolder, const PropertiesBlock& properties,
                         int userArgc, const char* const* userArgv,
                         const std::string& versionFolder, const std::string& staticUpdateUrl,
                         const std::optional<std::string>& dynamicUpdateUrl,
                         const std::string& jre, LaunchClass launchClass,
                         const std::string& absoluteLauncherPath);

// Starts the version folder's program with the newest private JRE of jreName:
// 0 once it is started, else the error number of the refused start.
int launchApp(const std::string& masterFolder, const PropertiesBlock& properties, int userArgc,
               const char* const* userArgv, const std::string& versionFolder,
               const std::string& staticUpdateUrl,
               const std::optional<std::string>& dynamicUpdateUrl, const std::string& jreName,
               const std::string& absoluteLauncherPath);

// Runs the version folder's compatibility class on java; true exactly when it
// exits with kJreCompatibleStatus.
bool checkAppJreCompatibility(const std::string& masterFolder, const PropertiesBlock& properties,
                              int userArgc, const char* const* userArgv,
                              const std::string& versionFolder, const std::string& staticUpdateUrl,
                              const std::optional<std::string>& dynamicUpdateUrl,
                              const std::string& java, const std::string& absoluteLauncherPath);

}  // namespace velmoran
