// velmoran-pack check: whether a launcher file is one the launcher can read,
// extract, verify and start, before it ships. Reads the file forward through
// the project's own readers and decoder, never holding an embedded archive
// in memory, and trusts no length it states.
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <memory>

#include "archive/container.h"
#include "archive/lzma.h"
#include "archive/lzma_stream.h"
#include "archive/signature.h"
#include "archive_scan.h"
#include "check.h"
#include "cli.h"
#include "commands.h"
#include "format/launch_file.h"
#include "format/names.h"
#include "format/tail.h"
#include "format/tail_plan.h"
#include "launcher_rules.h"
#include "tail_writer.h"
#include "util/encoding.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack check FILE\n"
    "\n"
    "Checks a launcher file the way the launcher will read it, so a fault shows\n"
    "before users meet it: the markers, the header, every embedded file (LZMA\n"
    "data decoded to its end, archives walked entry by entry, signatures checked\n"
    "with the header's public key), the VelmoranLaunch of the updater and of the\n"
    "application (every class path entry in the archive, the main class in one\n"
    "of its jars or folders), and the parameters. With a public key in the\n"
    "header, each archive that is not signed is a warning: the launcher verifies\n"
    "signed archives only, and installs unsigned ones as they are.\n"
    "\n"
    "Prints one line per finding, then a summary line:\n"
    "  ok: WHERE: WHAT            a part that passed\n"
    "  warning: WHERE: WHAT       works, but probably not as meant\n"
    "  error: WHERE: WHAT         the launcher would fail, misread or reject it\n"
    "  summary: N errors, M warnings\n"
    "WHERE is \"markers\", \"header\", \"entry N (PATH)\", \"updater's\n"
    "VelmoranLaunch\", \"application's VelmoranLaunch\" or \"params\"; the\n"
    "header's GU Version is the updater's version. Exits 0 when there is no\n"
    "error (warnings allowed), 1 otherwise.\n";

// The largest LZMA dictionary check decodes with; the launcher would need as
// much memory on every user's machine.
constexpr uint32_t kMaxLzmaDictionary = 256u << 20;
// Marker occurrences listed one by one; more are only counted.
constexpr std::size_t kListedMarkers = 16;
constexpr std::size_t kBlockSize = 128 * 1024;
// A version file holds an 11-digit version; anything much longer is not one.
constexpr int64_t kMaxVersionFileSize = 64;

std::string printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

std::string count(int64_t n, const std::string& noun, const std::string& plural = "") {
  return std::to_string(n) + " " + (n == 1 ? noun : plural.empty() ? noun + "s" : plural);
}

class Report {
 public:
  explicit Report(FILE* out) : out_(out) {}
  void ok(const std::string& text) { line("ok", text); }
  void warning(const std::string& text) {
    ++warnings_;
    line("warning", text);
  }
  void error(const std::string& text) {
    ++errors_;
    line("error", text);
  }
  int errors() const { return errors_; }
  int warnings() const { return warnings_; }
  int finish() {
    std::fprintf(out_, "summary: %s, %s\n", count(errors_, "error").c_str(), count(warnings_, "warning").c_str());
    std::fflush(out_);
    return errors_ > 0 ? 1 : 0;
  }

 private:
  void line(const char* kind, const std::string& text) { std::fprintf(out_, "%s: %s\n", kind, printable(text).c_str()); }
  FILE* out_;
  int errors_ = 0;
  int warnings_ = 0;
};

// Where each occurrence of a marker starts; the launcher takes the first.
struct MarkerHits {
  std::vector<int64_t> starts;  // the first kListedMarkers
  int64_t count = 0;
};

struct Markers {
  MarkerHits tail, params, end;
};

// Every occurrence by the launcher's matching rule, one read of the file.
Markers scanMarkers(FILE* in) {
  const auto tailMarker = allocAndInitMarker();
  const auto paramsMarker = allocAndInitParamsMarker();
  const auto endMarker = allocAndInitParamsEndMarker();
  struct Scan {
    MarkerMatcher matcher;
    std::size_t length;
    MarkerHits& hits;
  };
  Markers markers;
  Scan scans[] = {{MarkerMatcher(tailMarker), tailMarker.size(), markers.tail},
                  {MarkerMatcher(paramsMarker), paramsMarker.size(), markers.params},
                  {MarkerMatcher(endMarker), endMarker.size(), markers.end}};
  std::vector<unsigned char> block(kBlockSize);
  fseeko(in, 0, SEEK_SET);
  int64_t blockStart = 0;
  for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), in)) > 0; blockStart += static_cast<int64_t>(got)) {
    for (Scan& s : scans) {
      for (const unsigned char* p = block.data(); (p = s.matcher.feed(p, block.data() + got)) != nullptr;) {
        if (s.hits.starts.size() < kListedMarkers) {
          s.hits.starts.push_back(blockStart + (p - block.data()) - static_cast<int64_t>(s.length));
        }
        ++s.hits.count;
      }
    }
  }
  return markers;
}

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isArchiveRole(TailEntryRole role) {
  return role == TailEntryRole::UpdaterArchive || role == TailEntryRole::JreArchive ||
         role == TailEntryRole::AppArchive;
}

// The archives that hold a Java program started by its VelmoranLaunch: the
// launcher starts the updater, the updater the application.
bool startsFromLaunchFile(TailEntryRole role) {
  return role == TailEntryRole::UpdaterArchive || role == TailEntryRole::AppArchive;
}

// "updater" or "application", for the lines about its archive and launch file.
const char* programName(TailEntryRole role) {
  return role == TailEntryRole::UpdaterArchive ? "updater" : "application";
}

std::string launchFileWhere(TailEntryRole role) {
  return std::string(programName(role)) + "'s " + kLaunchFileName + ": ";
}

// An entry as the file holds it.
struct FoundEntry {
  std::string where;  // "entry N (PATH)"
  std::string path;
  int64_t headerStart = 0;
  int64_t dataStart = 0;
  int64_t length = 0;
  int64_t dataEnd() const { return dataStart + length; }
};

struct Decoded {
  std::optional<std::string> error;
  int64_t size = 0;
};

class Checker {
 public:
  Checker(FILE* in, int64_t size, Report& report) : in_(in), size_(size), report_(report) {}
  void run();

 private:
  bool checkHeader(int64_t start);
  void checkSettings();
  std::vector<Param> launcherParams();
  void walkEntries(int64_t start);
  void checkEntry(const FoundEntry& entry, const TailEntry& planned);
  void checkArchive(const FoundEntry& entry, bool compressed, TailEntryRole role);
  void checkSignature(const FoundEntry& entry, const ArchiveScan& scan, const std::optional<Digest>& digest);
  // A launch file as read: the fields, and how many bytes of it were left unread.
  struct ReadLaunchFile {
    LaunchFileReading reading;
    int64_t unread = 0;
  };
  // Where the main class of a launch file lies on its class path.
  struct MainClassSearch {
    std::string classFile;
    std::optional<std::string> holder;
    bool unread = false;  // a class path entry whose classes check cannot see
  };
  void checkLaunchFile(const ArchiveScan& scan, TailEntryRole role);
  std::optional<ReadLaunchFile> readScannedLaunchFile(const ArchiveScan& scan, TailEntryRole role);
  void checkLaunchFields(const ReadLaunchFile& read, TailEntryRole role);
  std::optional<std::string> checkClassPath(const LaunchFile& f, const ArchiveScan& scan, TailEntryRole role);
  void checkClassPathEntry(const std::string& entry, const ArchiveScan& scan, TailEntryRole role,
                           MainClassSearch& search);
  void lookIntoJar(const std::string& at, const std::string& jar, const JarListing& listing, MainClassSearch& search);
  void checkVersionFile(const FoundEntry& entry, const std::string& version);
  bool checkLzmaHeader(const FoundEntry& entry);
  Decoded decodeRange(const FoundEntry& entry);
  std::optional<Digest> hashRange(int64_t start, int64_t length);
  void checkMarkers();
  void checkParamsPlacement();
  void checkParams();
  std::string where(int64_t offset) const;
  int64_t paramsMarkerStart() const;

  FILE* in_;
  int64_t size_;
  Report& report_;
  Markers markers_;
  TailHeader header_;
  int64_t headerStart_ = -1;
  int64_t headerEnd_ = -1;
  bool keyGiven_ = false;
  RsaKeyPtr key_;
  std::vector<TailEntry> plan_;
  bool jreNamed_ = false;  // the plan names the JRE's archive after a usable name
  std::vector<FoundEntry> entries_;
  int64_t entriesEnd_ = -1;  // -1 when the entries could not all be read
};

void Checker::run() {
  markers_ = scanMarkers(in_);
  if (markers_.tail.count == 0) {
    report_.error("markers: no Tail marker: this is not a launcher file (inspect lists archives and launch files)");
    return;
  }
  report_.ok("markers: Tail marker after a launcher program of " + std::to_string(markers_.tail.starts[0]) + " bytes");
  headerStart_ = markers_.tail.starts[0] + static_cast<int64_t>(kTailMarkerLength);
  if (checkHeader(headerStart_)) walkEntries(headerEnd_);
  checkMarkers();
  if (markers_.params.count > 0) checkParams();
}

int64_t Checker::paramsMarkerStart() const {
  // Where the builder put it, when a stray earlier one (reported) is taken by the launcher.
  const std::vector<int64_t>& starts = markers_.params.starts;
  if (entriesEnd_ >= 0 && std::find(starts.begin(), starts.end(), entriesEnd_) != starts.end()) return entriesEnd_;
  return starts[0];
}

bool Checker::checkHeader(int64_t start) {
  fseeko(in_, static_cast<off_t>(start), SEEK_SET);
  header_ = readTailHeader(in_);
  headerEnd_ = ftello(in_);
  int64_t stated = 0;
  for (const TailHeaderField& field : kTailHeaderFields) {
    const std::string& value = header_.*field.member;
    stated += static_cast<int64_t>(value.size()) + 1;
    if (value.size() + 1 == field.size) {
      report_.error(std::string("header: the field '") + field.name +
                    "' is as long as its reader takes; every field after it is misread");
      return false;
    }
  }
  if (stated != headerEnd_ - start) {
    report_.error("header: the file ends inside the header, at offset " + std::to_string(headerEnd_));
    return false;
  }
  checkSettings();
  const auto orNone = [](const std::string& v) { return v.empty() ? std::string("none") : v; };
  report_.ok("header: App Name " + header_.appName + ", GU Version " + orNone(header_.guVersion) +
             ", JRE Version " + orNone(header_.jreVersion) + ", App Version " + orNone(header_.appVersion) +
             (key_ ? ", public key of " + std::to_string(rsa_get_size(key_.get()) * 8) + " bits" : ""));
  return true;
}

// The header and the parameters against the rules the builder keeps to;
// the entries to expect follow from them.
void Checker::checkSettings() {
  LauncherSpec spec;
  spec.header = header_;
  spec.params = launcherParams();
  spec.jreName = jreNameOf(spec.params);
  plan_ = planOf(spec);
  jreNamed_ = spec.jreName && !componentNameFault(*spec.jreName);
  // The entries are read by the plan: the files of the spec are its entries.
  for (const TailEntry& entry : plan_) spec.files[entry.role] = entry.name;
  for (const SpecFault& fault : specFaults(spec)) {
    if (fault.error) {
      report_.error(fault.finding);
    } else {
      report_.warning(fault.finding);
    }
  }
  keyGiven_ = !header_.signaturePublicKey.empty();
  key_ = importHeaderKey(header_.signaturePublicKey);
}

// The pairs the launcher reads from the first Params marker, up to one too
// long for its reader (which checkParams reports).
std::vector<Param> Checker::launcherParams() {
  if (markers_.params.count == 0) return {};
  const int64_t areaStart = markers_.params.starts[0] + static_cast<int64_t>(kParamsMarkerLength);
  Bytes area(static_cast<std::size_t>(std::clamp<int64_t>(size_ - areaStart, 0, kParamsAreaSize)));
  fseeko(in_, static_cast<off_t>(areaStart), SEEK_SET);
  area.resize(std::fread(area.data(), 1, area.size(), in_));
  if (area.empty()) return {};
  std::vector<Param> params = parseParamsArea(area);
  const auto overlong = std::find_if(params.begin(), params.end(), [](const Param& p) {
    return p.first.size() + 1 == kParamNameSize || p.second.size() + 1 == kParamValueSize;
  });
  params.erase(overlong, params.end());
  return params;
}

void Checker::walkEntries(int64_t start) {
  const std::vector<TailEntry>& expected = plan_;
  if (expected.empty()) {
    report_.ok("entries: none (no GU Version: the file is only a launcher)");
    entriesEnd_ = start;
    return;
  }
  int64_t at = start;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string position = "entry " + std::to_string(i + 1);
    if (at >= size_) {
      report_.error(position + ": missing (" + expected[i].name + " expected); the file ends at offset " +
                    std::to_string(size_));
      return;
    }
    fseeko(in_, static_cast<off_t>(at), SEEK_SET);
    const EntryHeader e = readEntryHeader(in_);
    FoundEntry entry{position + " (" + e.path.substr(0, 200) + ")", e.path, at, ftello(in_), e.length};
    if (e.end || e.cut != CutField::kNone) {
      report_.error(position + ": the file ends inside its header, at offset " + std::to_string(ftello(in_)));
      return;
    }
    if (e.overlong) {
      report_.error(entry.where + ": a header field is as long as its reader takes; everything after it is misread");
      return;
    }
    if (e.isFolder() || e.signature) {
      report_.error(entry.where + ": a folder or signature block where the launcher expects the file " + expected[i].name);
      return;
    }
    if (e.length < 0) {
      report_.error(entry.where + ": negative length " + std::to_string(e.length) + "; the launcher stops there");
      return;
    }
    if (e.length > size_ - entry.dataStart) {
      report_.error(entry.where + ": states " + std::to_string(e.length) + " bytes, but the file ends after " +
                    std::to_string(size_ - entry.dataStart) + ": the entry is cut short");
      return;
    }
    entries_.push_back(entry);
    const int64_t params = markers_.params.count == 1 ? markers_.params.starts[0] : -1;
    if (params >= entry.dataStart && params < entry.dataEnd()) {
      // The one Params marker is where it belongs, so the entry claims too much.
      report_.error(entry.where + ": states " + std::to_string(entry.length) + " bytes, but the Params marker starts " +
                    std::to_string(params - entry.dataStart) + " bytes into them: the entry is cut short");
      return;
    }
    checkEntry(entry, expected[i]);
    at = entry.dataEnd();
  }
  entriesEnd_ = at;
}

void Checker::checkEntry(const FoundEntry& entry, const TailEntry& planned) {
  const int errorsBefore = report_.errors();
  // Without a usable JRE name there is no name to expect; its fault is reported.
  const bool expectable = planned.role != TailEntryRole::JreArchive || jreNamed_;
  if (expectable && entry.path != planned.name) {
    report_.warning(entry.where + ": the launcher expects '" + planned.name + "' here");
  }
  if (isUnsafeEntryPath(entry.path)) {
    report_.error(entry.where + ": the path leads outside the destination; the launcher refuses it");
    return;
  }
  if (entry.length == 0 && planned.role != TailEntryRole::CaStore) {
    report_.warning(entry.where + ": empty, so extraction creates no file");
  }
  // What the launcher does with an entry follows from its name.
  if (endsWith(entry.path, ".p2.l2") || endsWith(entry.path, ".p2")) {
    checkArchive(entry, endsWith(entry.path, ".l2"), planned.role);
    return;
  }
  if (isArchiveRole(planned.role)) {
    report_.error(entry.where + ": not an archive the launcher extracts (the name must end in -archive.p2.l2)");
    return;
  }
  if (endsWith(entry.path, ".l2")) {
    if (!checkLzmaHeader(entry)) return;
    const Decoded decoded = decodeRange(entry);
    if (decoded.error) {
      report_.error(entry.where + ": the LZMA data does not decode to its end: " + *decoded.error);
    } else {
      report_.ok(entry.where + ": LZMA, " + std::to_string(entry.length) + " bytes decode to " +
                 std::to_string(decoded.size));
    }
    return;
  }
  if (planned.role == TailEntryRole::UpdaterVersion) checkVersionFile(entry, header_.guVersion);
  if (planned.role == TailEntryRole::AppVersion) checkVersionFile(entry, header_.appVersion);
  if (report_.errors() == errorsBefore) report_.ok(entry.where + ": " + std::to_string(entry.length) + " bytes");
}

void Checker::checkVersionFile(const FoundEntry& entry, const std::string& version) {
  if (entry.length == 0) return;
  std::string text(static_cast<std::size_t>(std::min(entry.length, kMaxVersionFileSize)), '\0');
  fseeko(in_, static_cast<off_t>(entry.dataStart), SEEK_SET);
  text.resize(std::fread(text.data(), 1, text.size(), in_));
  if (text != version) {
    report_.warning(entry.where + ": holds '" + text.substr(0, 40) + "', not the header's version " + version);
  }
}

bool Checker::checkLzmaHeader(const FoundEntry& entry) {
  unsigned char header[kLzmaAloneHeaderSize];
  fseeko(in_, static_cast<off_t>(entry.dataStart), SEEK_SET);
  if (entry.length < static_cast<int64_t>(sizeof header) || std::fread(header, 1, sizeof header, in_) != sizeof header) {
    report_.error(entry.where + ": too short to hold LZMA data (" + std::to_string(entry.length) + " bytes)");
    return false;
  }
  const uint32_t dictionary = header[1] | header[2] << 8 | header[3] << 16 | static_cast<uint32_t>(header[4]) << 24;
  if (dictionary > kMaxLzmaDictionary) {
    report_.error(entry.where + ": the LZMA dictionary is " + std::to_string(dictionary >> 20) +
                  " MiB; check decodes with at most " + std::to_string(kMaxLzmaDictionary >> 20) +
                  " MiB, and the launcher would need as much memory");
    return false;
  }
  return true;
}

Decoded Checker::decodeRange(const FoundEntry& entry) {
  Decoded result;
  fseeko(in_, static_cast<off_t>(entry.dataStart), SEEK_SET);
  int64_t left = entry.length;
  const auto input = [&](unsigned char* buffer, std::size_t size) -> std::ptrdiff_t {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(left, static_cast<int64_t>(size)));
    const std::size_t got = want == 0 ? 0 : std::fread(buffer, 1, want, in_);
    if (got == 0 && std::ferror(in_)) return -1;
    left -= static_cast<int64_t>(got);
    return static_cast<std::ptrdiff_t>(got);
  };
  const auto output = [&](std::span<const unsigned char> piece, std::string& error) {
    result.size += static_cast<int64_t>(piece.size());
    if (result.size <= kMaxScannedArchiveSize) return true;
    error = "it decodes to more than " + std::to_string(kMaxScannedArchiveSize >> 30) + " GiB";
    return false;
  };
  result.error = decodeLzmaAlone(input, output);
  return result;
}

std::optional<Digest> Checker::hashRange(int64_t start, int64_t length) {
  hash_state md;
  if (!initHash(md)) return std::nullopt;
  std::vector<unsigned char> buffer(kBlockSize);
  fseeko(in_, static_cast<off_t>(start), SEEK_SET);
  for (int64_t left = length; left > 0;) {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
    const std::size_t got = std::fread(buffer.data(), 1, want, in_);
    if (got == 0 || !updateHash(md, buffer.data(), static_cast<int>(got))) return std::nullopt;
    left -= static_cast<int64_t>(got);
  }
  return doFinal(md);
}

void Checker::checkArchive(const FoundEntry& entry, bool compressed, TailEntryRole role) {
  const int errorsBefore = report_.errors();
  if (compressed && !checkLzmaHeader(entry)) return;
  fseeko(in_, static_cast<off_t>(entry.dataStart), SEEK_SET);
  std::unique_ptr<LzmaEntryStream> lzma;
  FilePtr range;
  FILE* stream = nullptr;
  std::optional<Digest> digest;
  ArchiveScanOptions options;
  options.keepPaths = startsFromLaunchFile(role);
  options.keepLaunchFile = startsFromLaunchFile(role);
  if (compressed) {
    lzma = std::make_unique<LzmaEntryStream>(in_, entry.length, key_ != nullptr);
    stream = lzma->stream();
    // The digest is taken while the bytes before the block are still at hand.
    options.onSignatureBlock = [&](const EntryHeader& block) {
      if (key_ && block.signature->signedLength == block.offset) digest = lzma->digestUpTo(block.offset);
    };
  } else {
    range = openRange(in_, entry.length);
    stream = range.get();
  }
  if (stream == nullptr) {
    report_.error(entry.where + ": cannot be read: " + std::strerror(errno));
    return;
  }
  const ArchiveScan scan = scanArchive(stream, options);
  const bool decodedWhole = lzma == nullptr || lzma->finish();
  bool readable = !scan.readFailed && decodedWhole;
  if (compressed && (!readable || scan.stoppedEarly)) {
    // Decoded once more on its own: why it failed, or whether the part the scan
    // did not reach decodes.
    const Decoded decoded = decodeRange(entry);
    if (decoded.error) {
      report_.error(entry.where + ": the LZMA data does not decode to its end: " + *decoded.error);
      readable = false;
    } else if (!readable) {
      report_.error(entry.where + ": the decoded archive could not be read");
    }
  } else if (!readable) {
    report_.error(entry.where + ": cannot be read to its end");
  }
  for (const std::string& error : scan.errors) report_.error(entry.where + ": archive " + error);
  if (scan.moreErrors > 0) report_.error(entry.where + ": archive: " + count(scan.moreErrors, "more fault"));
  // Whatever a broken stream did not show cannot be judged.
  if (!readable) return;
  if (!compressed && scan.signatureBlock && key_ &&
      scan.signatureBlock->signature->signedLength == scan.signatureBlock->offset) {
    digest = hashRange(entry.dataStart, scan.signatureBlock->offset);
  }
  checkSignature(entry, scan, digest);
  if (report_.errors() == errorsBefore) {
    report_.ok(entry.where + ": archive of " + count(scan.entries, "entry", "entries") + ", " + std::to_string(scan.size) +
               " bytes" + (compressed ? " decoded from " + std::to_string(entry.length) + " bytes of LZMA" : "") +
               (scan.signatureBlock ? ", signature verified" : ", not signed"));
  }
  if (startsFromLaunchFile(role)) checkLaunchFile(scan, role);
}

void Checker::checkSignature(const FoundEntry& entry, const ArchiveScan& scan, const std::optional<Digest>& digest) {
  if (!scan.signatureBlock) {
    if (keyGiven_) {
      report_.warning(entry.where + ": not signed, though the header has a public key: the launcher installs it "
                      "without a check (it verifies signed archives only); sign it with 'archive --sign'");
    }
    if (scan.endedByEmptyType && scan.bytesAfterEnd > 0) {
      report_.warning(entry.where + ": " + count(scan.bytesAfterEnd, "byte") +
                      " after the end of the entries, which the launcher never reads");
    }
    return;
  }
  const EntryHeader& block = *scan.signatureBlock;
  const SignatureFields& fields = *block.signature;
  if (scan.bytesAfterEnd > 0) {
    report_.error(entry.where + ": " + count(scan.bytesAfterEnd, "byte") +
                  " follow the signature block; the launcher never extracts them");
  }
  if (fields.signedLength != block.offset) {
    report_.error(entry.where + ": the signature block at offset " + std::to_string(block.offset) + " says it covers " +
                  std::to_string(fields.signedLength) + " bytes; the launcher rejects the archive");
  } else if (!keyGiven_) {
    report_.error(entry.where + ": signed, but the header has no public key; the launcher rejects the archive");
  } else if (!key_) {
    report_.error(entry.where + ": signed, but the header's public key is unusable; the launcher rejects the archive");
  } else if (!digest) {
    report_.error(entry.where + ": the signed bytes could not be hashed");
  } else {
    const std::vector<unsigned char> signature = hexToBytes(fields.hex);
    if (!verifySignature(signature.data(), static_cast<int>(signature.size()), digest->data(), key_.get())) {
      report_.error(entry.where + ": the signature does not verify under the header's public key; the launcher "
                    "rejects the archive");
    }
  }
}

// The launch file of an archive, read with the launcher's reader; none
// (after saying why) when the archive holds none or it cannot be read.
std::optional<Checker::ReadLaunchFile> Checker::readScannedLaunchFile(const ArchiveScan& scan, TailEntryRole role) {
  const std::string where = launchFileWhere(role);
  if (!scan.launchFile) {
    if (!scan.errors.empty() || scan.readFailed) return std::nullopt;
    if (role == TailEntryRole::UpdaterArchive) {
      report_.error(where + "the updater's archive holds no " + kLaunchFileName + "; the launcher cannot start it");
    } else {
      // Another updater may start the application its own way.
      report_.warning(where + "the application's archive holds no " + kLaunchFileName +
                      "; the project's updater cannot start it");
    }
    return std::nullopt;
  }
  Bytes bytes = *scan.launchFile;
  FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
  if (in == nullptr) {
    report_.error(where + "cannot be read");
    return std::nullopt;
  }
  ReadLaunchFile read{readLaunchFile(in), 0};
  read.unread = static_cast<int64_t>(bytes.size()) - ftello(in);
  std::fclose(in);
  return read;
}

void Checker::checkLaunchFields(const ReadLaunchFile& read, TailEntryRole role) {
  const std::string where = launchFileWhere(role);
  const LaunchFile& f = read.reading.file;
  if (f.version < kLaunchFileFirstVersion || f.version > kLaunchFileLatestVersion) {
    report_.warning(where + "format version " + std::to_string(f.version) + " is not one of " +
                    std::to_string(kLaunchFileFirstVersion) + " to " + std::to_string(kLaunchFileLatestVersion));
  }
  if (f.mainClass.empty()) report_.error(where + "the main class (" + kLaunchClassLabel + ") is empty");
  // Only the launcher reads the App Name: it names the updater's copy of java.
  if (role == TailEntryRole::UpdaterArchive && !isAppBinaryName(f.appName)) {
    report_.error(where + "the App Name '" + f.appName.substr(0, 200) + "' is not a plain file name; the launcher refuses it");
  }
  std::vector<std::string> texts = {f.mainClass, f.classOnUpdate, f.appName, f.osIcns, f.compatibilityClass,
                                    f.postInstallClass, f.preUninstallClass};
  for (const auto* list : {&f.classpath, &f.extraArgs, &f.appJvmOptions}) texts.insert(texts.end(), list->begin(), list->end());
  if (std::any_of(texts.begin(), texts.end(), [](const std::string& t) { return t.size() > kLaunchTextMaxLength; })) {
    report_.error(where + "a text field is as long as its reader takes; the fields after it are misread");
  }
  const LaunchFileCounts& stated = read.reading.counts;
  const struct {
    const char* label;
    int64_t stated;
    std::size_t read;
  } counts[] = {{kLaunchClasspathCountLabel, stated.classpath, f.classpath.size()},
                {kLaunchExtraArgsCountLabel, stated.extraArgs, f.extraArgs.size()},
                {kLaunchAppJvmOptionCountLabel, stated.appJvmOptions, f.appJvmOptions.size()}};
  for (const auto& c : counts) {
    if (countCutShort(c.stated, c.read)) {
      report_.error(where + c.label + " is " + std::to_string(c.stated) + ", but the file ends before its entries do");
    }
  }
  if (read.unread > 0) {
    report_.warning(where + count(read.unread, "byte") + " after the last field, which the launcher never reads");
  }
  if (f.jvmMem > 0 && f.jvmStack > f.jvmMem) {
    report_.error(where + "the initial heap (" + std::to_string(f.jvmStack) + " MB) is larger than the maximum (" +
                  std::to_string(f.jvmMem) + " MB); java does not start");
  }
}

void Checker::checkLaunchFile(const ArchiveScan& scan, TailEntryRole role) {
  const std::optional<ReadLaunchFile> read = readScannedLaunchFile(scan, role);
  if (!read) return;
  const std::string where = launchFileWhere(role);
  const LaunchFile& f = read->reading.file;
  const int errorsBefore = report_.errors();
  checkLaunchFields(*read, role);
  std::optional<std::string> holder;
  if (scan.pathsIncomplete) {
    report_.warning(where + "the archive has too many entries to check the class path against");
  } else {
    holder = checkClassPath(f, scan, role);
  }
  if (report_.errors() == errorsBefore) {
    report_.ok(where + "version " + std::to_string(f.version) + ", main class " + f.mainClass +
               (holder ? " in " + *holder : "") + ", " +
               count(static_cast<int64_t>(f.classpath.size()), "class path entry", "class path entries") +
               " found in the archive");
  }
}

void Checker::lookIntoJar(const std::string& at, const std::string& jar, const JarListing& listing,
                          MainClassSearch& search) {
  if (listing.fault) {
    report_.error(at + ": " + jar + " is not a jar java can read (" + *listing.fault +
                  "), so none of its classes load; put an intact jar in the archive");
  } else if (!search.holder && listing.names.contains(search.classFile)) {
    search.holder = jar;
  }
}

// One entry of the class path, as java -cp reads it: "DIR/*" is every jar in
// DIR, anything else a jar or a folder of classes, relative to the version folder.
void Checker::checkClassPathEntry(const std::string& entry, const ArchiveScan& scan, TailEntryRole role,
                                  MainClassSearch& search) {
  const std::string at = launchFileWhere(role) + "class path entry '" + entry.substr(0, 200) + "'";
  const std::string archive = std::string("the ") + programName(role) + "'s archive";
  if (isUnsafeEntryPath("x/" + entry) || entry.find(':') != std::string::npos) {
    report_.warning(at + " lies outside the version folder or holds ':'; not checked");
    search.unread = true;
    return;
  }
  const bool wildcard = entry == "*" || endsWith(entry, "/*");
  const std::string path = normalEntryPath(wildcard ? entry.substr(0, entry.size() - 1) : entry);
  const bool folder = path.empty() || scan.folders.contains(path);
  const std::string inFolder = path.empty() ? "" : path + "/";
  if (wildcard && !folder) {
    report_.error(at + " names the folder " + path + ", which is not in " + archive +
                  ": add the folder with its jars, or remove the entry");
  } else if (wildcard) {
    // java takes the files ending in .jar or .JAR directly in the folder.
    for (const auto& [jar, listing] : scan.jars) {
      if (jar.starts_with(inFolder) && jar.find('/', inFolder.size()) == std::string::npos &&
          (endsWith(jar, ".jar") || endsWith(jar, ".JAR"))) {
        lookIntoJar(at, jar, listing, search);
      }
    }
  } else if (folder) {
    if (!search.holder && scan.files.contains(inFolder + search.classFile)) {
      search.holder = path.empty() ? "the version folder" : path;
    }
  } else if (scan.files.contains(path)) {
    const auto jar = scan.jars.find(path);
    if (jar == scan.jars.end()) {
      search.unread = true;  // check reads the names of .jar and .zip files only
    } else {
      lookIntoJar(at, path, jar->second, search);
    }
  } else if (scan.emptyFiles.contains(path)) {
    report_.error(at + " is an empty file in " + archive + ", which extraction does not create");
  } else {
    report_.error(at + " is not in " + archive + ": add the file to the archive, or remove the entry");
  }
}

// One of the class path entries must hold the main class. Returns the one that does.
std::optional<std::string> Checker::checkClassPath(const LaunchFile& f, const ArchiveScan& scan, TailEntryRole role) {
  MainClassSearch search;
  search.classFile = f.mainClass;
  std::replace(search.classFile.begin(), search.classFile.end(), '.', '/');
  search.classFile += ".class";
  for (const std::string& entry : f.classpath) checkClassPathEntry(entry, scan, role, search);
  if (!search.holder && !f.mainClass.empty()) {
    const std::string where = launchFileWhere(role);
    const std::string missing = "the main class " + f.mainClass.substr(0, 200) + " (" +
                                search.classFile.substr(0, 200) + ") is in no jar or folder of the class path";
    if (search.unread) {
      report_.warning(where + missing + " that check could read");
    } else {
      report_.error(where + missing + ", so java cannot start it: correct the " + kLaunchClassLabel +
                    " field (launchfile --class), or add the jar that holds it to the class path");
    }
  }
  return search.holder;
}

std::string Checker::where(int64_t offset) const {
  if (offset < markers_.tail.starts[0]) return "in the launcher program";
  if (offset < headerEnd_) return "in the header";
  for (const FoundEntry& e : entries_) {
    if (offset >= e.headerStart && offset < e.dataStart) return "in the header of " + e.where;
    if (offset >= e.dataStart && offset < e.dataEnd()) return "inside " + e.where;
  }
  if (entriesEnd_ >= 0 && offset > entriesEnd_ && offset < entriesEnd_ + static_cast<int64_t>(kParamsMarkerLength + kParamsAreaSize)) {
    return "in the Params area";
  }
  return "after the entries";
}

void Checker::checkMarkers() {
  const MarkerHits& tail = markers_.tail;
  for (std::size_t i = 1; i < tail.starts.size(); ++i) {
    report_.error("markers: another Tail marker at offset " + std::to_string(tail.starts[i]) + ", " + where(tail.starts[i]));
  }
  if (tail.count > static_cast<int64_t>(tail.starts.size())) {
    report_.error("markers: " + count(tail.count - static_cast<int64_t>(tail.starts.size()), "more Tail marker"));
  }
  checkParamsPlacement();
}

void Checker::checkParamsPlacement() {
  const MarkerHits& params = markers_.params;
  if (params.count == 0) {
    report_.error("markers: no Params marker; the launcher stops before reading anything");
    return;
  }
  const int64_t first = params.starts[0];
  const bool placed = entriesEnd_ >= 0 && std::find(params.starts.begin(), params.starts.end(), entriesEnd_) != params.starts.end();
  if (entriesEnd_ >= 0 && !placed) {
    report_.error("markers: no Params marker where the entries end, at offset " + std::to_string(entriesEnd_) +
                  "; the first one is at " + std::to_string(first) + ", " + where(first));
  }
  // Without a known place for it (the entries unreadable, or none there) the
  // first occurrence was just reported, or the fault that hid its place.
  for (const int64_t start : params.starts) {
    if (placed ? start == entriesEnd_ : start == first) continue;
    report_.error("markers: " + std::string(start == first ? "a" : "another") + " Params marker at offset " +
                  std::to_string(start) + ", " + where(start) +
                  (start == first ? ", which the launcher takes for the Params section" : ""));
  }
  if (params.count > static_cast<int64_t>(params.starts.size())) {
    report_.error("markers: " + count(params.count - static_cast<int64_t>(params.starts.size()), "more Params marker"));
  }
  if (placed && params.count == 1) {
    report_.ok("markers: Params marker once, right after the entries, at offset " + std::to_string(entriesEnd_));
  }
}

void Checker::checkParams() {
  const int64_t areaStart = paramsMarkerStart() + static_cast<int64_t>(kParamsMarkerLength);
  const int64_t available = std::min<int64_t>(static_cast<int64_t>(kParamsAreaSize), size_ - areaStart);
  const int errorsBefore = report_.errors();
  std::vector<unsigned char> area(static_cast<std::size_t>(std::max<int64_t>(available, 0)));
  fseeko(in_, static_cast<off_t>(areaStart), SEEK_SET);
  area.resize(std::fread(area.data(), 1, area.size(), in_));
  if (area.size() < kParamsAreaSize) {
    report_.error("params: the Params area is cut short: " + std::to_string(area.size()) + " of " +
                  std::to_string(kParamsAreaSize) + " bytes");
  }
  FILE* in = area.empty() ? nullptr : fmemopen(area.data(), area.size(), "rb");
  int64_t pairs = 0;
  if (in != nullptr) {
    const int64_t stated = readParamsCount(in);
    if (stated < 0) report_.warning("params: Params Count is " + std::to_string(stated) + ": no parameters");
    for (; pairs < stated; ++pairs) {
      if (ftello(in) >= static_cast<int64_t>(area.size())) {
        report_.error("params: Params Count is " + std::to_string(stated) + ", but the area holds only " +
                      count(pairs, "pair"));
        break;
      }
      const Param p = readParam(in);
      if (p.first.size() + 1 == kParamNameSize || p.second.size() + 1 == kParamValueSize) {
        report_.error("params: pair " + std::to_string(pairs) + " ('" + p.first.substr(0, 60) +
                      "') is as long as its reader takes; every pair after it is misread");
        break;
      }
      if (std::feof(in)) {
        report_.error("params: pair " + std::to_string(pairs) + " ('" + p.first.substr(0, 60) +
                      "') runs past the end of the Params area");
        break;
      }
    }
    const auto padding = static_cast<std::size_t>(std::min<int64_t>(ftello(in), static_cast<int64_t>(area.size())));
    std::fclose(in);
    const auto stray = std::find_if(area.begin() + static_cast<std::ptrdiff_t>(padding), area.end(),
                                    [](unsigned char b) { return b != 0; });
    if (stray != area.end()) {
      report_.error("params: the padding after the last pair holds other bytes than NUL, at offset " +
                    std::to_string(areaStart + (stray - area.begin())));
    }
  }
  const MarkerHits& end = markers_.end;
  const int64_t endAt = areaStart + static_cast<int64_t>(kParamsAreaSize);
  if (end.count == 0 || std::find(end.starts.begin(), end.starts.end(), endAt) == end.starts.end()) {
    report_.error("params: no end marker (the reversed Params marker) right after the Params area, at offset " +
                  std::to_string(endAt));
  } else if (endAt + static_cast<int64_t>(kParamsMarkerLength) != size_) {
    report_.error("params: " + count(size_ - endAt - static_cast<int64_t>(kParamsMarkerLength), "byte") +
                  " follow the end marker; it must end the file");
  }
  for (const int64_t start : end.starts) {
    if (start != endAt) report_.error("params: another end marker at offset " + std::to_string(start) + ", " + where(start));
  }
  if (report_.errors() == errorsBefore) {
    report_.ok("params: " + count(pairs, "parameter") + ", the Params area and the end marker intact");
  }
}

int runCheck(const std::vector<std::string>& argv) {
  Args a(argv);
  if (a.done()) usage("no file given");
  const std::string file = a.positional();
  if (!a.done()) usage("unexpected argument '" + a.peek() + "' (try --help)");
  return checkLauncherFile(file, stdout).errors > 0 ? 1 : 0;
}

}  // namespace

constinit const Command kCheckCommand{"check", "check a launcher file before shipping it", kHelp, runCheck};

CheckCounts checkLauncherFile(const std::string& file, FILE* report) {
  const FilePtr in = openFile(file.c_str(), "rb");
  struct stat st {};
  if (!in || fstat(fileno(in.get()), &st) != 0) fail("cannot read " + file + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) fail(file + " is not a regular file");
  Report lines(report);
  Checker(in.get(), static_cast<int64_t>(st.st_size), lines).run();
  lines.finish();
  return {lines.errors(), lines.warnings()};
}
}  // namespace velmoran::pack
