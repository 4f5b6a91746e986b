#include "launcher/entry.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "util/paths.h"

namespace velmoran {

Invocation invocationOf(int argc, char** argv) {
  Invocation inv;
  inv.fullArgs.assign(argv, argv + argc);
  if (argc > 0) {
    inv.launcherPath = argv[0];
    inv.userArgs.assign(argv + 1, argv + argc);
  }
  inv.prepareOnly = argc > 0 && inv.fullArgs.back() == kPrepareOnlyArgument;
  if (inv.prepareOnly) inv.mode = Mode::PrepareOnly;
  const std::pair<const char*, Mode> words[] = {
      {kUpdateArgument, Mode::Update}, {kUpdateWaitArgument, Mode::UpdateWait}, {kUninstallArgument, Mode::Uninstall}};
  for (const auto& [word, mode] : words) {
    if (inv.userArgs.empty() || inv.userArgs.back() != word) continue;
    inv.mode = mode;
    inv.userArgs.pop_back();
  }
  return inv;
}

std::string getAbsoluteExePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char* cwd = getcwd(nullptr, 0);
  std::string absolute = cwd != nullptr ? cwd : "";
  std::free(cwd);
  return pathcat(absolute, path);
}

bool isSilent(const std::string& silentParameter, const std::vector<std::string>& args) {
  return !silentParameter.empty() && std::find(args.begin(), args.end(), silentParameter) != args.end();
}

}  // namespace velmoran
