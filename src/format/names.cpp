#include "format/names.h"

#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {

std::optional<std::string> componentNameFault(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (name.size() > kMaxPathLength) return format("it is longer than %zu characters", kMaxPathLength);
  if (name.find_first_of("-/") != std::string::npos) return "it must not contain '-' or '/'";
  if (name == "." || name == "..") return "it must not be '.' or '..'";
  if (name == kUpdaterComponent) return std::string("it is the updater's own name, ") + kUpdaterComponent;
  return std::nullopt;
}

std::string masterFolderName(std::string_view appName) { return "Velmoran-" + std::string(appName); }

std::string versionFolderName(std::string_view component, std::string_view version) {
  return "Velmoran-" + std::string(component) + "-" + std::string(version) + "-complete";
}

std::string versionFileName(std::string_view component) {
  return "Velmoran-" + std::string(component) + "-version.txt";
}

std::string archiveFileName(std::string_view component, std::string_view version) {
  return "Velmoran-" + std::string(component) + "-" + std::string(version) + "-archive.p2.l2";
}

std::string manifestFileName(std::string_view appName) {
  return "Velmoran-" + std::string(appName) + "-manifest.p2";
}

}  // namespace velmoran
