// What happens to an entry after its bytes are read: pack200 entries are
// unpacked, and entries of the wrapper tail may be LZMA-decompressed or be
// archives themselves. A stage that cannot finish is a failure, with its record.
#pragma once

#include <tomcrypt.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "util/status.h"

namespace velmoran {

// Turns the packed file into finalPath with unpack200 and removes it; a
// missing or failing unpack200 is a failure with status 101.
Status unpackPacked(const std::optional<std::string>& unpack200, const std::string& packed,
                    const std::string& finalPath);

// Decodes the LZMA "alone" file into decompressed and removes it.
Status decompressFile(const std::string& compressed, const std::string& decompressed);

}  // namespace velmoran
