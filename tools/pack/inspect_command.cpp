// velmoran-pack inspect: lists what a launcher file or an archive holds.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "archive/container.h"
#include "archive/lzma.h"
#include "cli.h"
#include "launcher/tail.h"
#include "layout.h"
#include "tail_writer.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack inspect FILE\n"
    "\n"
    "Prints the header fields, the embedded entries (position, type, path,\n"
    "length) and the dynamic parameters of a launcher file. A file without a\n"
    "wrapper tail is listed as an archive (decompressed first when it is LZMA):\n"
    "its entries and its signature block.\n";

// Lists the entries up to end. A signature block ends an archive's entries;
// in a wrapper tail the launcher reads past one, and so does this.
void printEntries(FILE* in, int64_t end, bool archive) {
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
      if (archive) return;
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
      return;
    }
    fseeko(in, static_cast<off_t>(entry.length), SEEK_CUR);
  }
  if (position == 0) std::printf("  (none)\n");
  if (archive) std::printf("Not signed\n");
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

int runInspect(const std::vector<std::string>& argv) {
  Args a(argv);
  if (a.done()) fail("no file given");
  const std::string file = a.positional();
  if (!a.done()) fail("unexpected argument '" + a.peek() + "'");

  const Bytes bytes = readWholeFile(file);
  const LauncherLayout layout = locateSections(bytes);
  if (layout.headerOffset < 0) return inspectArchive(file, bytes);

  std::printf("Launcher file %s: %zu bytes, launcher program %" PRId64 " bytes\n", file.c_str(), bytes.size(),
              layout.headerOffset - static_cast<int64_t>(kTailMarkerLength));
  FILE* in = fmemopen(const_cast<unsigned char*>(bytes.data()), bytes.size(), "rb");
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
  printEntries(in, paramsMarkerAt, false);
  std::fclose(in);

  if (layout.paramsAreaOffset < 0) {
    std::printf("Parameters: none (no Params marker)\n");
    return 0;
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
  return 0;
}

const CommandRegistration registration{{30, "inspect", "list what a launcher file or an archive holds", kHelp, runInspect}};

}  // namespace
}  // namespace velmoran::pack
