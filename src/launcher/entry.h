// The process entry and its small helpers.
#pragma once

#include <string>

namespace velmoran {

// The last argument that makes a run prepare an installation without showing
// or launching anything.
inline constexpr const char* kPrepareOnlyArgument = "VLPREPARE_FOR_LAUNCH_ONLY";

// Computes the prepare-only flag, prints the first line and hands the run to
// the tail driver, which never returns.
[[noreturn]] void run(int argc, char** argv);

// The path unchanged when it starts with "/", otherwise the working directory
// joined with it; nothing is resolved or normalised.
std::string getAbsoluteExePath(const std::string& path);

// True when the silent parameter is not empty and equals one of the arguments as a whole.
bool isSilent(const std::string& silentParameter, int count, char** vector);

// The hook for an elevated re-run: there is none on this platform, so the run ends with 1.
[[noreturn]] void doElevatedSetupAndLaunch(const std::string& appName, int argc, char** argv,
                                           bool noUi);

}  // namespace velmoran
