// velmoran-pack inspect: lists what a launcher file or an archive holds.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "archive/container.h"
#include "archive/lzma.h"
#include "archive/lzma_stream.h"
#include "archive_scan.h"
#include "cli.h"
#include "commands.h"
#include "format/launch_file.h"
#include "format/tail.h"
#include "format/tail_plan.h"
#include "layout.h"
#include "tail_writer.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack inspect [--as launchfile|lso] FILE\n"
    "\n"
    "Prints what a launcher file holds: its header fields (the updater's version\n"
    "shows as GU Version), the embedded files (position, type, path, length),\n"
    "the updater's launch file and the parameters. A file without a wrapper tail\n"
    "is listed as an archive (decompressed first when it is LZMA): its entries\n"
    "and its signature block. A file named VelmoranLaunch is listed as a launch\n"
    "file, one named JRE-LastSuccessfulOptions-* as an LSO file.\n"
    "\n"
    "Options:\n"
    "  --as launchfile|lso   read FILE as a launch file or an LSO file, whatever\n"
    "                        its name\n";

void printText(const char* label, const std::string& value) {
  std::printf("  %-28s %s\n", (std::string(label) + ":").c_str(), value.c_str());
}

void printList(const char* countLabel, int64_t stated, const std::vector<std::string>& entries) {
  printText(countLabel, std::to_string(stated) +
                            (countCutShort(stated, entries.size()) ? " (the file ends before its entries do)" : ""));
  for (const std::string& entry : entries) std::printf("    %s\n", entry.c_str());
}

void printLaunchFile(const LaunchFileReading& reading) {
  const LaunchFile& f = reading.file;
  printText(kLaunchVersionLabel, std::to_string(f.version));
  printText(kLaunchClassLabel, f.mainClass);
  printText(kLaunchClassOnUpdateLabel, f.classOnUpdate);
  printText(kLaunchAppNameLabel, f.appName);
  printText(kLaunchOsIcnsLabel, f.osIcns);
  printText(kLaunchUrlRequiredLabel, f.urlRequired ? "1" : "0");
  printText(kLaunchJvmMemLabel, std::to_string(f.jvmMem));
  printText(kLaunchJvmStackLabel, std::to_string(f.jvmStack));
  printList(kLaunchClasspathCountLabel, reading.counts.classpath, f.classpath);
  printList(kLaunchExtraArgsCountLabel, reading.counts.extraArgs, f.extraArgs);
  if (f.version >= kVersionWithCompatibilityClass) printText(kLaunchCompatibilityClassLabel, f.compatibilityClass);
  if (f.version >= kVersionWithInstallClasses) {
    printText(kLaunchPostInstallClassLabel, f.postInstallClass);
    printText(kLaunchPreUninstallClassLabel, f.preUninstallClass);
  }
  if (f.version >= kVersionWithAppJvmOptions) {
    printList(kLaunchAppJvmOptionCountLabel, reading.counts.appJvmOptions, f.appJvmOptions);
  }
  if (f.version >= kVersionWithMustFork) printText(kLaunchMustForkLabel, f.mustFork ? "1" : "0");
}

// Launch and LSO files are read with the launcher's readers over the bytes.
FilePtr openBytes(const std::string& file, Bytes& bytes) {
  FilePtr in(bytes.empty() ? std::tmpfile() : fmemopen(bytes.data(), bytes.size(), "rb"));
  if (!in) fail("cannot read " + file);
  return in;
}

void printUnread(FILE* in, const Bytes& bytes) {
  const int64_t left = static_cast<int64_t>(bytes.size()) - ftello(in);
  if (left > 0) std::printf("  (%" PRId64 " bytes after the last field are not read)\n", left);
}

int inspectLaunchFile(const std::string& file, Bytes bytes) {
  const FilePtr in = openBytes(file, bytes);
  std::printf("Launch file %s: %zu bytes\n", file.c_str(), bytes.size());
  printLaunchFile(readLaunchFile(in.get()));
  printUnread(in.get(), bytes);
  return 0;
}

int inspectLsoFile(const std::string& file, Bytes bytes) {
  const FilePtr in = openBytes(file, bytes);
  std::printf("LSO file %s: %zu bytes\n", file.c_str(), bytes.size());
  const LsoFileReading lso = readLsoFile(in.get());
  printList(kLsoCountLabel, lso.count, lso.file.options);
  printUnread(in.get(), bytes);
  return 0;
}

// Lists the entries up to end. A signature block ends an archive's entries;
// in a wrapper tail the launcher reads past one, and so does this.
struct Listed {
  std::string path;
  int64_t dataStart;
  int64_t length;
};

// The updater's archive holds the launch file the launcher starts; it is
// decoded as the launcher decodes it. The updater's entries come before the
// JRE's, whose name (a parameter) moves none of them.
void printUpdaterLaunchFile(Bytes& bytes, const TailHeader& header, const std::vector<Listed>& entries) {
  const std::vector<TailEntry> plan = tailPlan(header, "");
  const auto planned = std::find_if(plan.begin(), plan.end(),
                                    [](const TailEntry& e) { return e.role == TailEntryRole::UpdaterArchive; });
  const auto index = static_cast<std::size_t>(planned - plan.begin());
  if (planned == plan.end() || index >= entries.size() || !entries[index].path.ends_with(".p2.l2")) return;
  std::optional<Bytes> launchFile;
  {
    const FilePtr in(fmemopen(bytes.data(), bytes.size(), "rb"));
    if (!in || fseeko(in.get(), static_cast<off_t>(entries[index].dataStart), SEEK_SET) != 0) return;
    LzmaEntryStream decoded(in.get(), entries[index].length, false);
    if (decoded.stream() == nullptr) return;
    ArchiveScanOptions options;
    options.keepLaunchFile = true;
    launchFile = scanArchive(decoded.stream(), options).launchFile;
  }
  const int position = static_cast<int>(index) + 1;
  if (!launchFile) {
    std::printf("Updater launch file: none found in entry %d (velmoran-pack check tells why)\n", position);
    return;
  }
  std::printf("Updater launch file (%s in entry %d, %zu bytes):\n", kLaunchFileName, position, launchFile->size());
  const FilePtr in = openBytes(kLaunchFileName, *launchFile);
  printLaunchFile(readLaunchFile(in.get()));
}

std::vector<Listed> printEntries(FILE* in, int64_t end, bool archive) {
  std::vector<Listed> listed;
  std::printf("Entries:\n");
  int position = 0;
  while (ftello(in) < end) {
    const EntryHeader entry = readEntryHeader(in);
    if (entry.end) break;
    ++position;
    if (entry.signature) {
      const SignatureFields& signature = *entry.signature;
      std::printf("Signature block at %" PRId64 ": signed length %" PRId64 "%s, %zu signature bytes\n", entry.offset,
                  signature.signedLength, signature.signedLength == entry.offset ? "" : " (does NOT match the block's place)",
                  signature.hex.size() / 2);
      if (archive) return listed;
      continue;
    }
    if (entry.isFolder()) {
      std::printf("  %2d  type %-3s %-50s (folder)\n", position, entry.typeText.c_str(), entry.path.c_str());
      continue;
    }
    std::printf("  %2d  type %-3s %-50s %" PRId64 " bytes\n", position, entry.typeText.c_str(), entry.path.c_str(),
                entry.length);
    if (entry.length < 0 || entry.length > end - ftello(in)) {
      std::printf("  entry %d claims more bytes than the tail holds\n", position);
      return listed;
    }
    listed.push_back({entry.path, ftello(in), entry.length});
    fseeko(in, static_cast<off_t>(entry.length), SEEK_CUR);
  }
  if (position == 0) std::printf("  (none)\n");
  if (archive) std::printf("Not signed\n");
  return listed;
}

// An LZMA "alone" archive as written for launcher files.
bool looksCompressed(const std::string& file, const Bytes& bytes) {
  const unsigned char header[] = {kTailLzmaProperties,
                                  static_cast<unsigned char>(kTailLzmaDictionarySize),
                                  static_cast<unsigned char>(kTailLzmaDictionarySize >> 8),
                                  static_cast<unsigned char>(kTailLzmaDictionarySize >> 16),
                                  static_cast<unsigned char>(kTailLzmaDictionarySize >> 24)};
  const bool suffix = file.size() > 3 && file.compare(file.size() - 3, 3, ".l2") == 0;
  return suffix || (bytes.size() >= kLzmaAloneHeaderSize && std::memcmp(bytes.data(), header, sizeof header) == 0);
}

// An archive starts with a decimal type field (or, empty, with its end).
bool startsWithEntryType(const Bytes& bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), '\0');
  if (end == bytes.end() || end - bytes.begin() >= static_cast<std::ptrdiff_t>(kIntFieldSize)) return false;
  const std::string type(bytes.begin(), end);
  std::size_t at = type.find_first_not_of(" \t");
  if (at == std::string::npos) return type.empty();
  if (type[at] == '+' || type[at] == '-') ++at;
  return at < type.size() && type.find_first_not_of("0123456789", at) == std::string::npos;
}

int inspectArchive(const std::string& file, Bytes bytes) {
  std::size_t compressedSize = 0;
  if (looksCompressed(file, bytes)) {
    Bytes decoded;
    std::size_t at = 0;
    const auto error = decodeLzmaAlone(
        [&](unsigned char* buffer, std::size_t size) -> std::ptrdiff_t {
          const std::size_t n = std::min(size, bytes.size() - at);
          std::memcpy(buffer, bytes.data() + at, n);
          at += n;
          return static_cast<std::ptrdiff_t>(n);
        },
        [&](std::span<const unsigned char> piece, std::string&) {
          decoded.insert(decoded.end(), piece.begin(), piece.end());
          return true;
        });
    if (error) fail(file + " could not be decompressed: " + *error);
    compressedSize = bytes.size();
    bytes = std::move(decoded);
  }
  if (!bytes.empty() && !startsWithEntryType(bytes)) {
    fail(file + " holds no wrapper tail (no Tail marker) and is no archive (it does not start with an entry type)");
  }
  if (compressedSize > 0) {
    std::printf("Archive %s: %zu bytes, LZMA-compressed from %zu bytes\n", file.c_str(), compressedSize, bytes.size());
  } else {
    std::printf("Archive %s: %zu bytes\n", file.c_str(), bytes.size());
  }
  if (bytes.empty()) {
    std::printf("Entries:\n  (none)\nNot signed\n");
    return 0;
  }
  FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
  if (in == nullptr) fail("cannot read " + file);
  printEntries(in, static_cast<int64_t>(bytes.size()), true);
  std::fclose(in);
  return 0;
}

void printParams(const Bytes& bytes, const LauncherLayout& layout) {
  if (layout.paramsAreaOffset < 0) {
    std::printf("Parameters: none (no Params marker)\n");
    return;
  }
  const auto offset = static_cast<std::size_t>(layout.paramsAreaOffset);
  const std::size_t areaSize = std::min(kParamsAreaSize, bytes.size() - offset);
  const auto params = parseParamsArea(std::span<const unsigned char>(bytes).subspan(offset, areaSize));
  std::printf("Parameters (%zu):\n", params.size());
  for (const auto& [name, value] : params) {
    if (value.size() > 100) {
      std::printf("  %s=%.97s... (%zu characters)\n", name.c_str(), value.c_str(), value.size());
    } else {
      std::printf("  %s=%s\n", name.c_str(), value.c_str());
    }
  }
}

int inspectLauncherFile(const std::string& file, Bytes& bytes, const LauncherLayout& layout) {
  std::printf("Launcher file %s: %zu bytes, launcher program %" PRId64 " bytes\n", file.c_str(), bytes.size(),
              layout.headerOffset - static_cast<int64_t>(kTailMarkerLength));
  FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
  if (in == nullptr) fail("cannot read " + file);
  fseeko(in, static_cast<off_t>(layout.headerOffset), SEEK_SET);
  std::printf("Header:\n");
  const TailHeader header = readTailHeader(in);
  for (const TailHeaderField& field : kTailHeaderFields) {
    std::printf("  %-22s %s\n", (std::string(field.name) + ":").c_str(), (header.*field.member).c_str());
  }
  const int64_t paramsMarkerAt =
      layout.paramsAreaOffset < 0 ? static_cast<int64_t>(bytes.size())
                                  : layout.paramsAreaOffset - static_cast<int64_t>(kParamsMarkerLength);
  const std::vector<Listed> entries = printEntries(in, paramsMarkerAt, false);
  std::fclose(in);
  printUpdaterLaunchFile(bytes, header, entries);
  printParams(bytes, layout);
  return 0;
}

int runInspect(const std::vector<std::string>& argv) {
  Args a(argv);
  std::string file, as;
  while (!a.done()) {
    if (a.option("--as")) as = a.value();
    else if (file.empty()) file = a.positional();
    else usage("unexpected argument '" + a.peek() + "' (try --help)");
  }
  if (file.empty()) usage("no file given");
  if (!as.empty() && as != "launchfile" && as != "lso") usage("--as takes launchfile or lso; got '" + as + "'");
  const std::string name = file.substr(file.rfind('/') + 1);
  if (as.empty() && name == kLaunchFileName) as = "launchfile";
  if (as.empty() && name.starts_with(kLsoFilePrefix)) as = "lso";

  Bytes bytes = readWholeFile(file);
  if (as == "launchfile") return inspectLaunchFile(file, std::move(bytes));
  if (as == "lso") return inspectLsoFile(file, std::move(bytes));
  const LauncherLayout layout = locateSections(bytes);
  if (layout.headerOffset < 0) return inspectArchive(file, bytes);
  return inspectLauncherFile(file, bytes, layout);
}

}  // namespace

constinit const Command kInspectCommand{
    "inspect", "list what a launcher file, an archive or a launch file holds", kHelp, runInspect};

}  // namespace velmoran::pack
