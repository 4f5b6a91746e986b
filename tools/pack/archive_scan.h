// Reading an archive's entries the way extraction reads them, writing
// nothing: what check verifies and inspect lists. archive/container.h has
// the format and its reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "archive/container.h"
#include "jar_scan.h"
#include "tail_writer.h"
#include "util/file.h"

namespace velmoran::pack {

// Reading stops here: past it a decompression bomb would only cost time.
constexpr int64_t kMaxScannedArchiveSize = int64_t{4} << 30;
// The launcher's updater reads launch files of at most this size.
constexpr int64_t kMaxLaunchFileSize = int64_t{16} << 20;

struct ArchiveScanOptions {
  bool keepPaths = false;       // fill the path sets and the jar listings below
  bool keepLaunchFile = false;  // keep the data of a VelmoranLaunch at the top of the archive
  // Called right after the signature block has been read, before anything after it.
  std::function<void(const EntryHeader& block)> onSignatureBlock;
};

struct ArchiveScan {
  int64_t entries = 0;  // read before the end, the signature block not counted
  int64_t size = 0;     // bytes read, up to where reading stopped
  // What extraction would refuse or misread. Reading stops at a fault that
  // leaves the rest unreadable; the list holds the first few.
  std::vector<std::string> errors;
  int64_t moreErrors = 0;
  bool stoppedEarly = false;  // at one of those faults, before the end of the stream
  bool readFailed = false;  // the stream itself failed (a decoding error, for a compressed one)
  std::optional<EntryHeader> signatureBlock;
  int64_t bytesAfterEnd = 0;  // after the signature block or an empty type field: never read
  bool endedByEmptyType = false;
  // Entry paths without "." and empty components, as extraction creates them.
  std::set<std::string> files;       // files of at least one byte
  std::set<std::string> emptyFiles;  // length 0: recorded, but not created
  std::set<std::string> folders;     // named by folder entries or on an entry's way
  // The names each file of files listed as a jar lists, or why it lists none.
  std::map<std::string, JarListing> jars;
  bool pathsIncomplete = false;      // too many to keep
  std::optional<Bytes> launchFile;
};

ArchiveScan scanArchive(FILE* stream, const ArchiveScanOptions& options);

// A path ending in ".jar" or ".zip", in either case: the files whose
// listings a scan keeps.
bool isJarName(std::string_view path);

// "a//b/./c/" as "a/b/c": the path extraction ends up writing.
std::string normalEntryPath(std::string_view path);

// A read stream over the next length bytes of parent (which it then leaves
// there); ftello tells how many were read.
FilePtr openRange(FILE* parent, int64_t length);

}  // namespace velmoran::pack
