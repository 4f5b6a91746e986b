// The process entry: the command line as the run sees it, and a few helpers
// of the entry.
#pragma once

#include <string>
#include <vector>

namespace velmoran {

// The launcher's own words: recognised only as the last argument, every
// other argument is the application's.
// Prepare an installation without showing or launching anything.
inline constexpr const char* kPrepareOnlyArgument = "VLPREPARE_FOR_LAUNCH_ONLY";
// Check the update channel and install what it has newer, quietly; with the
// splash's progress.
inline constexpr const char* kUpdateArgument = "VLUPDATE";
inline constexpr const char* kUpdateWaitArgument = "VLUPDATE_WAIT";
// Remove the install, its menu entry and icon.
inline constexpr const char* kUninstallArgument = "VLUNINSTALL";

enum class Mode { Run, PrepareOnly, Update, UpdateWait, Uninstall };

// How the launcher was started.
struct Invocation {
  std::string launcherPath;           // as invoked: the file that is read
  std::string absolutePath;           // handed to the launch
  std::vector<std::string> userArgs;  // the arguments after the program name (and before a word of its own)
  std::vector<std::string> fullArgs;  // the whole command line
  bool prepareOnly = false;           // the last argument is kPrepareOnlyArgument
  Mode mode = Mode::Run;
};

Invocation invocationOf(int argc, char** argv);

// The path unchanged when it starts with "/", otherwise the working directory
// joined with it; nothing is resolved or normalised.
std::string getAbsoluteExePath(const std::string& path);

// True when the silent parameter is not empty and equals one of the arguments as a whole.
bool isSilent(const std::string& silentParameter, const std::vector<std::string>& args);

}  // namespace velmoran
