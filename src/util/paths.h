// Joining paths, creating folders with mode 777.
#pragma once

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

// 0 when the folder exists afterwards (made now or before), -1 when mkdir failed.
// A new folder gets mode 777 whatever the umask; an existing one is untouched.
int makeDir(const std::string& path);

// Creates exactly this folder, never reusing one: 0 when mkdir made it (then
// mode 777), -1 otherwise with mkdir's errno kept (EEXIST: something is there).
// The chmod record is logged either way, as makeDir always has.
int makeNewDir(const std::string& path);

// Sets mode 777 with chmod(2), logging the command a shell would have run.
// Returns 0 on success, -1 on failure.
int chmod777(const std::string& path);

}  // namespace velmoran
