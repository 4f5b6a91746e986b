#include "launcher/entry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/driver.h"
#include "util/exit.h"
#include "util/paths.h"
#include "util/signals.h"

namespace velmoran {

void run(int argc, char** argv) {
  watchInterruptions();  // before any other thread exists
  ignoreSigpipe();
  const bool prepareOnly = argc > 0 && std::strcmp(argv[argc - 1], kPrepareOnlyArgument) == 0;
  std::printf("Extracting wrapper tail...\n");
  std::fflush(stdout);
  extractWrapperTail(argv[0], argc - 1, argv + 1, argc, argv, prepareOnly);
}

std::string getAbsoluteExePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char* cwd = getcwd(nullptr, 0);
  std::string absolute = cwd != nullptr ? cwd : "";
  std::free(cwd);
  return pathcat(absolute, path);
}

bool isSilent(const std::string& silentParameter, int count, char** vector) {
  if (silentParameter.empty()) return false;
  for (int i = 0; i < count; ++i) {
    if (silentParameter == vector[i]) return true;
  }
  return false;
}

void doElevatedSetupAndLaunch(const std::string& appName, int argc, char** argv, bool noUi) {
  (void)appName;
  (void)argc;
  (void)argv;
  (void)noUi;
  endRun(1);
}

}  // namespace velmoran
