// Extraction of archives (archive/container.h has the format): entry after
// entry is written below a destination, and a signed archive is decided by
// its signature block once its entries are written.
#pragma once

#include <tomcrypt.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "archive/extraction_state.h"
#include "util/status.h"

namespace velmoran {

// Runs unpack200 on the entries that waited for their archive's decision.
Status unpackWaitingEntries(const std::optional<std::string>& unpack200, std::vector<PackedEntry>& packed);

// Extracts the archive file into destination, checks its signature if it is
// signed, and removes the archive file. True when the archive is accepted:
// unsigned, or signed and verified with the key. A rejected archive leaves
// the destination emptied. A signed archive with no key is rejected. The
// pack200 entries of an accepted archive are unpacked at the end, or, for an
// archive inside another one, handed to the outer one's decision (outer).
Result<bool> extractArchive(const std::optional<std::string>& unpack200, const std::string& archivePath,
                            const std::string& destination, const rsa_key* key,
                            std::vector<PackedEntry>* outer = nullptr);

// After one entry: read on, or stop (the end of the entries, the signature
// block read, or one read already).
enum class EntryStep { Next, Stop };

// Processes one entry of the stream. With an LZMA decompressor path (entries
// of the wrapper tail), a written name ending in ".l2" is decompressed and
// one ending in ".p2" is extracted as an archive. Unsafe paths, entries cut
// short and failed writes are failures (status 1); a pack200 stage that
// makes nothing, 101.
Result<EntryStep> extractArchiveFileCheckSignature(const std::optional<std::string>& lzma,
                                                   const std::optional<std::string>& unpack200,
                                                   const std::string& destination, FILE* stream,
                                                   SignatureState& signature, const rsa_key* key);

// Extracts entries with extractArchiveFileCheckSignature (no LZMA stage)
// until it says stop.
Status extractEntries(const std::optional<std::string>& unpack200, const std::string& destination, FILE* stream,
                      SignatureState& signature, const rsa_key* key);

// An LZMA-compressed archive file (an archive of the update channel, as the
// wrapper tail carries archives): decoded and extracted in one pass into
// destination, its signature checked when it is signed, its pack200 entries
// unpacked once it is accepted. False when it was refused.
Result<bool> extractCompressedArchiveFile(const std::optional<std::string>& unpack200, const std::string& path,
                                          const std::string& destination, const rsa_key* key);

// The data of the archive's entry of this name, read whole; none when the
// archive has no such entry before its signature block, or it is larger
// than maxSize.
std::optional<std::string> readArchiveEntry(const std::string& archivePath, const std::string& name,
                                            std::size_t maxSize);

// Reads past the next entry without extracting anything of it; false when
// its header or data is cut short.
bool skipArchiveEntry(FILE* stream);

// One entry of the wrapper tail. False when it held an archive whose
// signature check failed (its destination is then emptied).
Result<bool> extractArchiveFileIgnoreSignature(const std::optional<std::string>& lzma,
                                               const std::optional<std::string>& unpack200,
                                               const std::string& destination, FILE* stream, const rsa_key* key);

}  // namespace velmoran
