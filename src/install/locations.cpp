#include "install/locations.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

#include "platform/fileops.h"
#include "format/names.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "platform/stop.h"
#include "util/strings.h"

namespace velmoran {
namespace {

constexpr const char* kTempPrefix = "VelmoranTemp-";
constexpr const char* kTempSuffix = "-app";
constexpr long kStaleTempSeconds = 24 * 60 * 60;

std::string tempFolderName(long seconds, long count) {
  return format("%s%ld-%ld%s", kTempPrefix, seconds, count, kTempSuffix);
}

// The seconds in a temporary folder's name, or none for any other name.
std::optional<long> tempFolderSeconds(const std::string& name) {
  const std::string_view prefix = kTempPrefix, suffix = kTempSuffix;
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix)) {
    return std::nullopt;
  }
  const std::string fields = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const std::size_t dash = fields.find('-');
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.size() <= 18 &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (dash == std::string::npos || !digits(std::string_view(fields).substr(0, dash)) ||
      !digits(std::string_view(fields).substr(dash + 1))) {
    return std::nullopt;
  }
  return std::atol(fields.c_str());
}

// This run's temporary folders and the locks on them, held until the process
// ends (the descriptors are not inherited by the programs it starts).
struct HeldFolder {
  std::string path;
  UniqueFd fd;
};

std::vector<HeldFolder>& heldTempFolders() {
  static std::vector<HeldFolder> held;
  return held;
}

bool sameFile(int a, int b) {
  struct stat first {}, second {};
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// A failed run's temporary folders would stay for a day (a full disk the
// whole time). One renamed into place is no longer at its temporary name and
// is kept; what stands at that name now must be the very folder this run made.
void removeOwnTempFoldersAtTheirNames() {
  for (HeldFolder& held : heldTempFolders()) {
    UniqueFd folder(open(held.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder || !sameFile(folder.get(), held.fd.get())) continue;
    if (deleteFolderAt(std::move(folder), held.path, false) == 0) rmdir(held.path.c_str());
  }
}

std::atomic<bool> mayHoldTemp{false};

void holdTempFolder(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd || flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return;
  heldTempFolders().push_back({path, std::move(fd)});
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

std::optional<std::string> homeDirectory() { return homeDirectoryOf(getuid()); }

bool isInUse(const std::string& master, const std::string& folderName) {
  UniqueFd lock(open(setPath(master, kRunningFolderName, folderName).c_str(),
                     O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!lock) return false;
  // The updater holds shared POSIX record locks: a write lock is refused while one is held.
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  return fcntl(lock.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

bool isAnyInUse(const std::string& master) {
  const std::string running = setPath(master, kRunningFolderName);
  DirPtr dir = openDir(running.c_str());
  if (!dir) return false;
  while (const dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] != '.' && isInUse(master, entry->d_name)) return true;
  }
  return false;
}

std::optional<std::string> locateSharedDirectory(InstallType type) {
  logMessage("%s", installTypeRecord(type));
  if (installsForAllUsers(type)) return sharedDirectoryOf(type, "");
  const uid_t uid = getuid();
  const std::optional<std::string> home = homeDirectoryOf(uid);
  if (!home) {
    logError("[Extractor] User id %ld has no password database entry, so there is no home "
             "directory to install into\n",
             static_cast<long>(uid));
    return std::nullopt;
  }
  logMessage("HomeDir is %s\n", home->c_str());
  std::string shared = sharedDirectoryOf(type, *home);
  makeDir(shared);
  return shared;
}

std::string makeAppFolder(const std::string& master, const std::string& component,
                          const std::string& version) {
  return setPath(master, versionFolderName(component, version));
}

std::string makeAppTempFolder(const std::string& master, const std::string&, const std::string&) {
  const long seconds = static_cast<long>(std::time(nullptr));
  return setPath(master, tempFolderName(seconds, countFolderEntries(master.c_str())));
}

bool isInstalled(const std::string& versionFolder) {
  struct stat info {};
  return lstat(versionFolder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> createAppTempFolder(const std::string& master, const std::string&,
                                               const std::string&) {
  // This run may hold one from before the folder exists, and a stop asked
  // before that parks the run here: a signal's stop either finds it set
  // or keeps the folder from being made.
  mayHoldTemp = true;
  parkIfStopRequested();
  const long seconds = static_cast<long>(std::time(nullptr));
  const long count = countFolderEntries(master.c_str());
  // Every EEXIST is an entry of master, so the search ends; the bound is only a backstop.
  for (long next = count; next < count + 100000; ++next) {
    std::string path = setPath(master, tempFolderName(seconds, next));
    // Made and held as one step: a folder made but not yet held would be left.
    StopDeferred oneStep;
    if (makeNewDir(path) == 0) {
      holdTempFolder(path);
      return path;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

bool mayHoldTempFolders() { return mayHoldTemp; }

void removeOwnTempFolders() { removeOwnTempFoldersAtTheirNames(); }

void removeStaleTempFolders(const std::string& master) {
  DirPtr dir = openDir(master.c_str());
  if (!dir) return;
  const long now = static_cast<long>(std::time(nullptr));
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    const std::optional<long> seconds = tempFolderSeconds(name);
    if (!seconds || now - *seconds <= kStaleTempSeconds) continue;
    // Opened once and checked on the descriptor: a link at the name is not a
    // folder of ours, and what is removed is what was checked.
    UniqueFd folder(openat(dirfd(dir.get()), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!folder || fstat(folder.get(), &info) != 0 || now - info.st_mtime <= kStaleTempSeconds) continue;
    const std::string path = setPath(master, name);
    if (flock(folder.get(), LOCK_EX | LOCK_NB) != 0) {
      logMessage("[Extractor] Keeping the old temporary folder %s: a run is still using it\n", path.c_str());
      continue;
    }
    logMessage("[Extractor] Removing the temporary folder %s left by an earlier run\n", path.c_str());
    // The walk gets a descriptor of its own, so the lock holds until the folder is gone.
    UniqueFd walk(fcntl(folder.get(), F_DUPFD_CLOEXEC, 0));
    if (!walk || deleteFolderAt(std::move(walk), path, false) != 0 ||
        unlinkat(dirfd(dir.get()), name.c_str(), AT_REMOVEDIR) != 0) {
      logMessage("[Extractor] Unable to remove the temporary folder %s: %s\n", path.c_str(), std::strerror(errno));
    }
  }
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

std::vector<std::string> versionFoldersOf(const std::string& master, const std::string& component) {
  std::vector<std::pair<int64_t, std::string>> found;
  if (DirPtr dir = openDir(master.c_str())) {
    while (const dirent* entry = readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name.size() > 2 && checkAppFolderName(name, component) == 0 && pickVersionFromAppFolderName(name) >= 0) {
        found.emplace_back(pickVersionFromAppFolderName(name), name);
      }
    }
  }
  std::sort(found.begin(), found.end(), std::greater<>());
  std::vector<std::string> names;
  for (auto& [version, name] : found) names.push_back(std::move(name));
  return names;
}

void removeVersions(const std::string& master, const std::string& component, std::size_t keep,
                    std::optional<int64_t> below) {
  const std::vector<std::string> folders = versionFoldersOf(master, component);
  std::size_t kept = 0;
  for (const std::string& name : folders) {
    const bool tooNew = below && pickVersionFromAppFolderName(name) > *below;
    if (!tooNew && kept < keep) {
      ++kept;
      continue;
    }
    if (isInUse(master, name)) {
      logMessage("[Extractor] Keeping %s: it is in use\n", name.c_str());
      continue;
    }
    const std::string path = setPath(master, name);
    UniqueFd folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder && deleteFolderAt(std::move(folder), path, false) == 0 && rmdir(path.c_str()) == 0) {
      logMessage("[Extractor] Removed the old version %s\n", name.c_str());
    } else {
      logMessage("[Extractor] Unable to remove the old version %s: %s\n", name.c_str(), std::strerror(errno));
    }
  }
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
