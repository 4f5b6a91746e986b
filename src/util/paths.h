// Joining paths.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace velmoran {

// The longest path the launcher handles; longer ones are refused, never cut.
constexpr std::size_t kMaxPathLength = 4999;

// True when the path is at most kMaxPathLength long; otherwise false, after
// a record that says it is refused.
bool pathFits(std::string_view path);

// Converts "/" to the native separator; on Linux that is "/" already.
void toNativePath(std::string& path);

// Appends name to base with one "/" between them unless base ends with "/".
// Nothing else is normalised. An empty base gives the name alone.
std::string& pathcat(std::string& base, std::string_view name);

std::string setPath(std::string_view first);
std::string setPath(std::string_view first, std::string_view second);
std::string setPath(std::string_view first, std::string_view second, std::string_view third);

}  // namespace velmoran
