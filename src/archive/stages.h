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

#include "archive/extract.h"

namespace velmoran {

// Turns the packed file into finalPath with unpack200 and removes it; a
// missing or failing unpack200 is a failure with status 101.
Status unpackPacked(const std::optional<std::string>& unpack200, const std::string& packed,
                  const std::string& finalPath);

// Decodes the LZMA "alone" file into decompressed and removes it.
Status decompressFile(const std::string& compressed, const std::string& decompressed);

// The next length bytes of the stream hold an LZMA-compressed archive: it is
// decoded and extracted in one pass, so no file of it is written (archivePath
// only names it in the records). False when its signature check failed;
// otherwise its pack200 entries join outer, for the decision of the archive
// that holds it.
Result<bool> extractCompressedArchive(const std::optional<std::string>& unpack200, const std::string& archivePath,
                              const std::string& destination, FILE* stream, int64_t length, const rsa_key* key,
                              std::vector<PackedEntry>& outer);

}  // namespace velmoran
