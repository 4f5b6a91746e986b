#include "archive_scan.h"

#include <sys/types.h>

#include <algorithm>
#include <cinttypes>

#include "format/launch_file.h"

namespace velmoran::pack {
namespace {

constexpr std::size_t kMaxErrors = 10;
// Paths, and the names the jars list, are kept for the class path check up
// to this many bytes of them.
constexpr std::size_t kMaxKeptPathBytes = 64u << 20;
constexpr std::size_t kCopyBufferSize = 64 * 1024;

std::string tooLarge() {
  return "the archive goes on past " + std::to_string(kMaxScannedArchiveSize >> 30) + " GiB; check reads no further";
}

class Scanner {
 public:
  Scanner(FILE* in, const ArchiveScanOptions& options) : in_(in), options_(options) {}
  ArchiveScan run();

 private:
  void error(const std::string& text) {
    if (scan_.errors.size() < kMaxErrors) scan_.errors.push_back(text);
    else ++scan_.moreErrors;
  }
  // False when the entry leaves the rest unreadable.
  bool entry(const EntryHeader& e);
  void keepPath(std::set<std::string>& set, const std::string& path);
  void keepJar(const std::string& path, JarListing listing);
  void keepParents(const std::string& path);
  // Reads length data bytes, keeping those from keepFrom on when keep is
  // given. False, after noting why, when the stream ends first.
  bool data(const EntryHeader& e, Bytes* keep = nullptr, int64_t keepFrom = 0);
  void drain();
  std::string name(const EntryHeader& e) const {
    return "entry " + std::to_string(scan_.entries + 1) + " '" + e.path.substr(0, 200) + "'";
  }

  FILE* in_;
  const ArchiveScanOptions& options_;
  ArchiveScan scan_;
  std::size_t keptPathBytes_ = 0;
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(kCopyBufferSize);
};

ArchiveScan Scanner::run() {
  for (;;) {
    if (ftello(in_) >= kMaxScannedArchiveSize) {
      error(tooLarge());
      scan_.stoppedEarly = true;
      break;
    }
    const EntryHeader e = readEntryHeader(in_);
    if (std::ferror(in_)) {
      scan_.readFailed = true;
      break;
    }
    if (e.end) {
      scan_.endedByEmptyType = !std::feof(in_);
      drain();
      break;
    }
    if (!entry(e)) {
      scan_.stoppedEarly = !scan_.readFailed;
      break;
    }
    if (scan_.signatureBlock) {
      drain();
      break;
    }
    ++scan_.entries;
  }
  scan_.size = std::max<int64_t>(0, ftello(in_) - scan_.bytesAfterEnd);
  return std::move(scan_);
}

bool Scanner::entry(const EntryHeader& e) {
  if (e.cut != CutField::kNone) {
    error(name(e) + " ends inside its header, at offset " + std::to_string(ftello(in_)));
    return false;
  }
  if (e.overlong) {
    error(name(e) + " at offset " + std::to_string(e.offset) +
          " has a field as long as its reader takes; the launcher misreads everything after it");
    return false;
  }
  if (isUnsafeEntryPath(e.path)) error(name(e) + " leads outside the destination; the launcher refuses it");
  keepParents(e.path);
  if (e.isFolder()) {
    keepPath(scan_.folders, e.path);
    return true;
  }
  if (e.signature) {
    scan_.signatureBlock = e;
    if (options_.onSignatureBlock) options_.onSignatureBlock(e);
    return true;
  }
  if (e.length < 0) {
    error(name(e) + " has a negative length (" + std::to_string(e.length) + "); the launcher stops there");
    return false;
  }
  keepPath(e.length == 0 ? scan_.emptyFiles : scan_.files, e.path);
  const bool launchFile = options_.keepLaunchFile && e.length > 0 && normalEntryPath(e.path) == kLaunchFileName;
  if (launchFile && e.length > kMaxLaunchFileSize) {
    error(name(e) + " is " + std::to_string(e.length) + " bytes; a launch file has at most " +
          std::to_string(kMaxLaunchFileSize));
  }
  if (launchFile && e.length <= kMaxLaunchFileSize) {
    Bytes kept;
    if (!data(e, &kept)) return false;
    scan_.launchFile = std::move(kept);
    return true;
  }
  if (options_.keepPaths && e.length > 0 && isJarName(e.path)) {
    // Only its end, where its directory is: a jar can be large.
    Bytes tail;
    if (!data(e, &tail, std::max<int64_t>(0, e.length - static_cast<int64_t>(kJarTailSize)))) return false;
    keepJar(normalEntryPath(e.path), jarEntryNames(tail, static_cast<uint64_t>(e.length)));
    return true;
  }
  return data(e);
}

bool Scanner::data(const EntryHeader& e, Bytes* keep, int64_t keepFrom) {
  const int64_t start = ftello(in_);
  for (int64_t left = e.length; left > 0;) {
    if (start + (e.length - left) >= kMaxScannedArchiveSize) {
      error(tooLarge());
      return false;
    }
    const auto want = static_cast<std::size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer_.size())));
    const std::size_t got = std::fread(buffer_.data(), 1, want, in_);
    if (got == 0) {
      if (std::ferror(in_)) {
        scan_.readFailed = true;
      } else {
        error(name(e) + " states " + std::to_string(e.length) + " bytes; the archive ends after " +
              std::to_string(e.length - left));
      }
      return false;
    }
    const int64_t done = e.length - left;
    if (keep != nullptr && done + static_cast<int64_t>(got) > keepFrom) {
      const int64_t skip = std::max<int64_t>(0, keepFrom - done);
      keep->insert(keep->end(), buffer_.begin() + static_cast<std::ptrdiff_t>(skip),
                   buffer_.begin() + static_cast<std::ptrdiff_t>(got));
    }
    left -= static_cast<int64_t>(got);
  }
  return true;
}

void Scanner::drain() {
  while (scan_.bytesAfterEnd < kMaxScannedArchiveSize) {
    const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), in_);
    if (got == 0) break;
    scan_.bytesAfterEnd += static_cast<int64_t>(got);
  }
  if (std::ferror(in_)) scan_.readFailed = true;
}

void Scanner::keepPath(std::set<std::string>& set, const std::string& path) {
  if (!options_.keepPaths || scan_.pathsIncomplete) return;
  keptPathBytes_ += path.size();
  if (keptPathBytes_ > kMaxKeptPathBytes) {
    scan_.pathsIncomplete = true;
    return;
  }
  set.insert(normalEntryPath(path));
}

void Scanner::keepJar(const std::string& path, JarListing listing) {
  if (scan_.pathsIncomplete) return;
  for (const std::string& name : listing.names) keptPathBytes_ += name.size();
  if (keptPathBytes_ > kMaxKeptPathBytes) {
    scan_.pathsIncomplete = true;
    return;
  }
  scan_.jars[path] = std::move(listing);
}

// Extraction creates the folders on an entry's way, whatever the entry is.
void Scanner::keepParents(const std::string& path) {
  const std::string normal = normalEntryPath(path);
  for (std::size_t slash = normal.find('/'); slash != std::string::npos; slash = normal.find('/', slash + 1)) {
    keepPath(scan_.folders, normal.substr(0, slash));
  }
}

struct Range {
  FILE* parent;
  int64_t left;
  int64_t done = 0;
};

}  // namespace

ArchiveScan scanArchive(FILE* stream, const ArchiveScanOptions& options) { return Scanner(stream, options).run(); }

bool isJarName(std::string_view path) {
  if (path.size() < 4) return false;
  std::string end(path.substr(path.size() - 4));
  std::transform(end.begin(), end.end(), end.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return end == ".jar" || end == ".zip";
}

std::string normalEntryPath(std::string_view path) {
  std::string out;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != ".") {
      if (!out.empty()) out += '/';
      out += part;
    }
    start = end + 1;
  }
  return out;
}

FilePtr openRange(FILE* parent, int64_t length) {
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    auto* range = static_cast<Range*>(cookie);
    const auto want = static_cast<std::size_t>(std::min<int64_t>(range->left, static_cast<int64_t>(size)));
    if (want == 0) return 0;
    const std::size_t got = std::fread(buffer, 1, want, range->parent);
    if (got == 0 && std::ferror(range->parent)) return -1;
    range->left -= static_cast<int64_t>(got);
    range->done += static_cast<int64_t>(got);
    return static_cast<ssize_t>(got);
  };
  // Only telling the position: readEntryHeader notes where each entry starts.
  io.seek = [](void* cookie, off64_t* offset, int whence) -> int {
    if (whence != SEEK_CUR || *offset != 0) return -1;
    *offset = static_cast<Range*>(cookie)->done;
    return 0;
  };
  io.close = [](void* cookie) -> int {
    delete static_cast<Range*>(cookie);
    return 0;
  };
  auto* range = new Range{parent, std::max<int64_t>(length, 0)};
  FILE* stream = fopencookie(range, "rb", io);
  if (stream == nullptr) delete range;
  return FilePtr(stream);
}

}  // namespace velmoran::pack
