// The launch sequence: from a version folder's launch file to a running java.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "launch/properties.h"
#include "util/status.h"

namespace velmoran {

enum class LaunchClass : int {
  App = 0,               // the launch file's "Class" through the private JRE's app binary
  JreCompatibility = 1,  // its compatibility class on a given java, waited for
};

// The status by which a compatibility class accepts the java it runs on.
constexpr int kJreCompatibleStatus = 72;

// What a launch is given by the run: where the version folder lies, the
// properties collected so far, and what the launched program learns of the
// launcher.
struct LaunchRequest {
  std::string masterFolder;
  std::string versionFolder;  // the name of the version folder in the master folder
  PropertiesBlock properties;
  std::vector<std::string> userArgs;  // the launcher's own arguments, without its program name
  std::string staticUpdateUrl;
  std::optional<std::string> dynamicUpdateUrl;
  std::string absoluteLauncherPath;
};

// Reads master/versionFolder/VelmoranLaunch, builds the java command line,
// writes the launch properties file (the request's block plus the launch's
// own properties, on a copy) and starts java. The user arguments follow
// everything else. jre is the JRE name (App) or the path of the java to test
// (JreCompatibility). App: 0 once the process is started, else the error
// number of the refused start; the process is not waited for.
// JreCompatibility: the exit status of the finished process, -1 when it could
// not be started or ended otherwise. A missing launch file or private JRE is
// a failure with status 1, an unwritable properties file with 99.
Result<int> launchFromLaunchFile(const LaunchRequest& request, const std::string& jre, LaunchClass launchClass);

// Tells the updater of the newest installed version of the application:
// static properties "app_folder", "app_version", "app_main_class",
// "app_classpath" (absolute entries joined with ":"), "app_max_heap",
// "app_initial_heap", and the lists "app_jvm_option" and "app_arg" (a
// "..s_count" and numbered entries), read from its launch file. Nothing when
// none is installed.
void addApplicationProperties(PropertiesBlock& properties, const std::string& masterFolder,
                              const std::string& appName);

// Starts the version folder's program with the newest private JRE of
// jreName; a start that fails is a failure with status 1 (recorded in the log
// file too).
Status launchApp(const LaunchRequest& request, const std::string& jreName);

// Runs the version folder's compatibility class on java; true exactly when it
// exits with kJreCompatibleStatus.
Result<bool> checkAppJreCompatibility(const LaunchRequest& request, const std::string& java);

}  // namespace velmoran
