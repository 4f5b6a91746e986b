// What extraction learns of an archive as it goes: its signature block, and
// the pack200 entries that wait for the decision on it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmoran {

// A pack200 entry written, and the file unpack200 makes of it.
struct PackedEntry {
  std::string packed;
  std::string finalPath;
};

// What extraction learns of an archive's signature block.
struct SignatureState {
  int64_t signedLength = -1;             // -1 until the block is read
  std::optional<std::string> signature;  // its hex text; set once a block is read
  int64_t blockOffset = -1;              // where the block starts in the stream
  bool nestedRejected = false;           // a nested archive failed its signature check
  // The pack200 entries wait for the decision on the whole archive: the
  // unpack200 that turns them into files may be the archive's own (a JRE's),
  // and nothing of an archive runs before its signature holds.
  std::vector<PackedEntry> packed;
};

}  // namespace velmoran
