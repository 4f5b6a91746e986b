// Joining paths, creating folders with the install's mode.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace velmoran {

// The longest path the launcher handles; longer ones are refused, never cut.
constexpr std::size_t kMaxPathLength = 4999;

// Ends the run with a clear message when the path is longer than kMaxPathLength.
void checkPathLength(std::string_view path);

// Converts "/" to the native separator; on Linux that is "/" already.
void toNativePath(std::string& path);

// Appends name to base with one "/" between them unless base ends with "/".
// Nothing else is normalised. An empty base gives the name alone.
std::string& pathcat(std::string& base, std::string_view name);

std::string setPath(std::string_view first);
std::string setPath(std::string_view first, std::string_view second);
std::string setPath(std::string_view first, std::string_view second, std::string_view third);

// The mode of every folder the launcher creates and of the programs it marks
// executable. An install for all users ("perm_all", in /opt) is shared and
// needs 0777; an install in one user's home is that user's alone: 0755, so
// no other local user can put a version folder (which would be started) or
// anything else into it. The driver sets it from the install type before the
// first folder is made; until then it is 0755.
void setInstallMode(mode_t mode);
mode_t installMode();

// 0 when the folder exists afterwards (made now or before), -1 when mkdir failed.
// A new folder gets the install mode whatever the umask; an existing one is untouched.
int makeDir(const std::string& path);

// Creates exactly this folder, never reusing one: 0 when mkdir made it (then
// the install mode), -1 otherwise with mkdir's errno kept (EEXIST: something
// is there). The chmod record is logged either way, as makeDir always has.
int makeNewDir(const std::string& path);

// Sets the install mode on a folder or file with chmod(2), never through a
// link at its name, logging the command a shell would have run ("chmod 777"
// or "chmod 755"). Returns 0 on success, -1 on failure.
int chmod777(const std::string& path);
// The record of chmod777 alone, for a file whose mode was set as it was written.
void logChmod777(const std::string& path);

}  // namespace velmoran
