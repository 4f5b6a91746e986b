// velmoran-pack inspect: lists what a launcher file holds.
#include <cinttypes>
#include <cstdio>

#include "cli.h"
#include "launcher/tail.h"
#include "layout.h"
#include "tail_writer.h"
#include "util/fields.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack inspect FILE\n"
    "\n"
    "Prints the header fields, the embedded entries (position, type, path,\n"
    "length) and the dynamic parameters of a launcher file.\n";

void printEntries(FILE* in, int64_t end) {
  std::printf("Entries:\n");
  int position = 0;
  while (ftello(in) < end) {
    const std::string type = readString(in, "Archive File Type");
    if (type.empty()) break;
    const std::string path = readString(in, "Archive File Path");
    ++position;
    if (std::strtoll(type.c_str(), nullptr, 10) == 1) {
      std::printf("  %2d  type %-3s %-50s (folder)\n", position, type.c_str(), path.c_str());
      continue;
    }
    const int64_t length = readInt(in, "Archive File Length");
    std::printf("  %2d  type %-3s %-50s %" PRId64 " bytes\n", position, type.c_str(), path.c_str(), length);
    if (length < 0 || length > end - ftello(in)) {
      std::printf("  entry %d claims more bytes than the tail holds\n", position);
      return;
    }
    fseeko(in, static_cast<off_t>(length), SEEK_CUR);
  }
  if (position == 0) std::printf("  (none)\n");
}

int runInspect(const std::vector<std::string>& argv) {
  Args a(argv);
  if (a.done()) fail("no file given");
  const std::string file = a.positional();
  if (!a.done()) fail("unexpected argument '" + a.peek() + "'");

  const Bytes bytes = readWholeFile(file);
  const LauncherLayout layout = locateSections(bytes);
  if (layout.headerOffset < 0) fail(file + " holds no wrapper tail (no Tail marker)");

  std::printf("Launcher file %s: %zu bytes, launcher program %" PRId64 " bytes\n", file.c_str(), bytes.size(),
              layout.headerOffset - static_cast<int64_t>(kTailMarkerLength));
  FILE* in = fmemopen(const_cast<unsigned char*>(bytes.data()), bytes.size(), "rb");
  if (in == nullptr) fail("cannot read " + file);
  fseeko(in, static_cast<off_t>(layout.headerOffset), SEEK_SET);
  std::printf("Header:\n");
  for (const TailHeaderField& field : kTailHeaderFields) {
    const std::string value = readString(in, field.name, field.size);
    std::printf("  %-22s %s\n", (std::string(field.name) + ":").c_str(), value.c_str());
  }
  const int64_t paramsMarkerAt =
      layout.paramsAreaOffset < 0 ? static_cast<int64_t>(bytes.size())
                                  : layout.paramsAreaOffset - static_cast<int64_t>(kParamsMarkerLength);
  printEntries(in, paramsMarkerAt);
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

const CommandRegistration registration{{30, "inspect", "list what a launcher file holds", kHelp, runInspect}};

}  // namespace
}  // namespace velmoran::pack
