#include "launcher/decision.h"

#include <cstdlib>

#include "format/names.h"
#include "install/locations.h"

namespace velmoran {
namespace {

int64_t versionOf(const std::string& folderName) { return pickVersionFromAppFolderName(folderName); }

int64_t versionOfField(const std::string& field) { return std::atol(field.c_str()); }

Decision install(std::vector<std::string> records, std::string reason) {
  records.push_back(std::move(reason));
  return {Action::Install, std::move(records)};
}

}  // namespace

InstalledVersions findInstalled(const std::string& masterFolder, const std::string& jreName,
                                const std::string& appName) {
  return {pickAndAllocLatestFromMaster(masterFolder, kUpdaterComponent),
          pickAndAllocLatestFromMaster(masterFolder, jreName), pickAndAllocLatestFromMaster(masterFolder, appName)};
}

Decision decide(const TailHeader& h, const InstalledVersions& installed) {
  const bool hasGu = !h.guVersion.empty();
  std::vector<std::string> records;
  if (!installed.updater || !installed.jre) {
    return install(records,
                   "[Extractor] No latest GU or JRE version exists, will check tail for online/offline info\n");
  }
  records.push_back("[Extractor] Latest GU version exists: " + *installed.updater + "\n");
  records.push_back("[Extractor] Existing JRE exists: " + *installed.jre + "\n");
  if (hasGu && versionOfField(h.guVersion) > versionOf(*installed.updater)) {
    return install(records, "[Extractor] Our GU version is newer than existing latest version so will extract and run\n");
  }
  records.push_back("[Extractor] Latest GUversion is newer or same as our version so will just run\n");
  if (!hasGu || h.appVersion.empty()) return {Action::JustRun, records};
  if (!installed.application) {
    return install(records, "[Extractor] No app version found and we are offline so will extract\n");
  }
  if (versionOfField(h.appVersion) > versionOf(*installed.application)) {
    return install(records,
                   "[Extractor] Our App version is newer than existing latest version so will extract and run\n");
  }
  records.push_back("[Extractor] Latest App version is newer or same as our version so will just run\n");
  return {Action::JustRun, records};
}

}  // namespace velmoran
