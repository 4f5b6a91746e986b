#include "install/locations.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "util/exit.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {
namespace {

std::string tempFolderName(long seconds, long count) {
  return format("VelmoranTemp-%ld-%ld-app", seconds, count);
}

// The text strictly between the n-th and (n+1)-th "-", or none.
std::optional<std::string> dashField(const std::string& name, int n) {
  const int start = indexOf(name, '-', n);
  const int end = indexOf(name, '-', n + 1);
  if (start < 0 || end < 0) return std::nullopt;
  return allocSubstring(name, start + 1, end - start - 1);
}

// The password-database home directory of uid, or none when there is no entry.
std::optional<std::string> homeDirectoryOf(uid_t uid) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr || found->pw_dir == nullptr) return std::nullopt;
  return std::string(found->pw_dir);
}

}  // namespace

mode_t installModeFor(const std::string& installType) { return installType == "perm_all" ? 0777 : 0755; }

std::string locateSharedDirectory(const std::string& installType) {
  if (installType == "perm_all") {
    logMessage("Permanent install for all users\n");
    return "/opt";
  }
  logMessage(installType == "perm_user" ? "Permanent install for current user\n"
                                        : "Temporary install\n");
  const uid_t uid = getuid();
  const std::optional<std::string> home = homeDirectoryOf(uid);
  if (!home) {
    logError("[Extractor] User id %ld has no password database entry, so there is no home "
             "directory to install into\n",
             static_cast<long>(uid));
    endRun(1);
  }
  logMessage("HomeDir is %s\n", home->c_str());
  // A plain append: a home of "/" gives "//.Velmoran", as it always has.
  std::string shared = setPath(*home + "/.Velmoran");
  makeDir(shared);
  return shared;
}

std::string makeAppFolder(const std::string& master, const std::string& component,
                          const std::string& version) {
  return setPath(master, "Velmoran-" + component + "-" + version + "-complete");
}

std::string makeAppTempFolder(const std::string& master, const std::string&, const std::string&) {
  const long seconds = static_cast<long>(std::time(nullptr));
  return setPath(master, tempFolderName(seconds, countFolderEntries(master.c_str())));
}

std::optional<std::string> createAppTempFolder(const std::string& master, const std::string&,
                                               const std::string&) {
  const long seconds = static_cast<long>(std::time(nullptr));
  const long count = countFolderEntries(master.c_str());
  // Every EEXIST is an entry of master, so the search ends; the bound is only a backstop.
  for (long next = count; next < count + 100000; ++next) {
    std::string path = setPath(master, tempFolderName(seconds, next));
    if (makeNewDir(path) == 0) return path;
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

int checkAppFolderName(const std::string& folderName, const std::string& component) {
  const std::optional<std::string> field = dashField(folderName, 1);
  if (!field) return -1;
  return std::strcmp(field->c_str(), component.c_str());
}

int64_t pickVersionFromAppFolderName(const std::string& folderName) {
  const std::optional<std::string> field = dashField(folderName, 2);
  if (!field) return -1;
  return std::atol(field->c_str());
}

std::optional<std::string> pickAndAllocLatestFromMaster(const std::string& master,
                                                        const std::string& component) {
  DirPtr dir = openDir(master.c_str());
  if (!dir) return std::nullopt;
  int64_t best = -1;
  std::optional<std::string> bestName;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.size() <= 2) continue;
    if (checkAppFolderName(name, component) != 0) continue;
    const int64_t version = pickVersionFromAppFolderName(name);
    logMessage("[PickFolder] Folder %s matches %s with version %ld\n", name.c_str(),
               component.c_str(), static_cast<long>(version));
    if (version > best) {
      best = version;
      bestName = name;
      logMessage("[PickFolder] Set latest to %ld %s\n", static_cast<long>(version), name.c_str());
    }
  }
  return bestName;
}

}  // namespace velmoran
