// The entry names a jar lists: its zip central directory, read without
// trusting any size or offset it states.
#pragma once

#include <set>
#include <string>

namespace velmoran::pack {

// Fails (exit 1) with a message naming the file when it is not a zip file
// whose directory can be read whole.
std::set<std::string> jarEntryNames(const std::string& path);

}  // namespace velmoran::pack
