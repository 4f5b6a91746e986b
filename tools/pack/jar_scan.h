// The entry names a jar lists: its zip central directory, read without
// trusting any size or offset it states.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>

namespace velmoran::pack {

// The directory of a jar anyone ships, with its end records, lies within its
// last this many bytes: a jar that is not a file of its own (one inside an
// archive) is read from those alone.
constexpr uint64_t kJarTailSize = (uint64_t{64} << 20) + (uint64_t{1} << 17);

// Fails (exit 1) with a message naming the file when it is not a zip file
// whose directory can be read whole.
std::set<std::string> jarEntryNames(const std::string& path);

struct JarListing {
  std::set<std::string> names;
  std::optional<std::string> fault;  // why the bytes are no jar whose names can be read
};

// The same from the last bytes of a jar of size bytes: all of them, or at
// least its last kJarTailSize.
JarListing jarEntryNames(std::span<const unsigned char> tail, uint64_t size);

}  // namespace velmoran::pack
