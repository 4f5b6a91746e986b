// Where installed pieces live: the shared directory, the master folder's
// version and temporary folders, and the newest installed version of a component.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/install_type.h"

namespace velmoran {

// The shared directory of the install type: "/opt", or the user's home
// directory (from the password database, not $HOME) followed by
// "/.Velmoran", created if missing. None, after a record, when the user has
// no password-database entry.
std::optional<std::string> locateSharedDirectory(InstallType type);

// The user's home directory from the password database (not $HOME), or none.
std::optional<std::string> homeDirectory();

// True when a running updater holds a lock on master/VLRunning/<folder>:
// the version folder is in use and must not be removed.
bool isInUse(const std::string& master, const std::string& folderName);
// True when any version folder of master is in use.
bool isAnyInUse(const std::string& master);

// master/Velmoran-<component>-<version>-complete. Creates nothing.
std::string makeAppFolder(const std::string& master, const std::string& component,
                          const std::string& version);

// master/VelmoranTemp-<seconds>-<entries in master>-app. Only forms the name:
// two calls in the same second give the same name, so use createAppTempFolder
// to get a folder of one's own.
std::string makeAppTempFolder(const std::string& master, const std::string& component,
                              const std::string& version);

// True when a folder (not a link) stands at the version folder's path: the
// version is installed, and its folder is never written again.
bool isInstalled(const std::string& versionFolder);

// Creates a fresh temporary folder (the install mode) and returns its path. The
// name is the one makeAppTempFolder forms; when another run holds it already,
// the count goes on (+1, +2, ...) until mkdir succeeds, so no two runs share
// one folder. None when the folder cannot be created for another reason. The
// run holds a lock (flock) on the folder until it ends, so that no other run
// takes it for a leftover; a run that fails (endRun with a status other than
// 0, or a signal) removes the folder, unless it has been renamed away.
std::optional<std::string> createAppTempFolder(const std::string& master,
                                               const std::string& component,
                                               const std::string& version);

// True once this run may have made a temporary folder: from just before the
// first mkdir of one. A stop from another thread (platform/stop.h) reads it.
bool mayHoldTempFolders();
// Removes the temporary folders this run made that are still at their
// temporary names: a failed run's, which no later run would rename.
void removeOwnTempFolders();

// Removes the temporary folders that killed runs left in master: those older
// than a day both by the time in their name and by their modification time
// (the name says when the run began; the modification time, stamped by the
// machine's clock as it is now, keeps a folder whose name came from a wrong
// clock). A folder another run still holds locked is left alone whatever its
// age, as is anything that is not a folder of that name pattern.
void removeStaleTempFolders(const std::string& master);

// 0 when the component field (between the 1st and 2nd "-") equals component,
// -1 when the name has fewer than two "-", else the strcmp result.
int checkAppFolderName(const std::string& folderName, const std::string& component);

// The version field (between the 2nd and 3rd "-") as an integer, -1 when the
// name has fewer than three "-".
int64_t pickVersionFromAppFolderName(const std::string& folderName);

// The component's version folders in master, newest first.
std::vector<std::string> versionFoldersOf(const std::string& master, const std::string& component);

// Removes the version folders of the component other than the newest keep
// ones, and (for a rollback) those newer than below when given; a folder in
// use stays. Records what is removed.
void removeVersions(const std::string& master, const std::string& component, std::size_t keep,
                    std::optional<int64_t> below = std::nullopt);

// The bare entry name of the component's version folder with the highest
// version; none when master cannot be opened or nothing matches.
std::optional<std::string> pickAndAllocLatestFromMaster(const std::string& master,
                                                        const std::string& component);

}  // namespace velmoran
