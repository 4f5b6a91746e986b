// The wrapper tail: its two markers, the scan that finds them, the header and
// the Params section. The format's one home: the launcher reads through here,
// and the builder writes with these constants and reads back with these readers.
// The entries between the header and the Params marker are archive entries
// (archive/container.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "util/file.h"

namespace velmoran {

constexpr std::size_t kTailMarkerLength = 128;
constexpr std::size_t kParamsMarkerLength = 64;
// The fixed size of the Params area between the Params marker and its reversed copy.
constexpr std::size_t kParamsAreaSize = 204800;

// The markers are assembled at run time, so the launcher's own image never
// holds them and the scans cannot find them there.
std::vector<unsigned char> allocAndInitMarker();
std::vector<unsigned char> allocAndInitParamsMarker();
// The Params marker's bytes in reverse order: the last bytes of the file,
// right after the Params area.
std::vector<unsigned char> allocAndInitParamsEndMarker();

// The marker matching rule as a resumable state machine, so a scan can be fed
// block by block. A byte that breaks a partial match is not tried as the start
// of a new one.
class MarkerMatcher {
 public:
  explicit MarkerMatcher(std::span<const unsigned char> marker) : marker_(marker) {}
  // Returns the position just after the marker when it completes inside
  // [begin, end), otherwise nullptr with the partial match carried over.
  const unsigned char* feed(const unsigned char* begin, const unsigned char* end);

 private:
  std::span<const unsigned char> marker_;
  std::size_t matched_ = 0;
};

// The search the matcher uses for where a marker's first two bytes stand side
// by side: the first position in [begin, end - 1) where a is followed by b,
// or end. Each copy this processor can run, the baseline first, for tests
// that hold them to the same answers.
using BytePairFinder = const unsigned char* (*)(const unsigned char* begin, const unsigned char* end,
                                                unsigned char a, unsigned char b);
std::vector<BytePairFinder> bytePairFinders();

// Offset just after the first occurrence of the marker in the bytes, or -1.
int64_t findMarkerEnd(std::span<const unsigned char> bytes, std::span<const unsigned char> marker);

// Feeds bytes [start, size) of the file to the matcher through a read-only
// mapping, which saves copying every byte into a buffer first. That wins
// when the page cache holds the file in large folios, as it does after
// reading it from disk or writing it in one go; only a file still cached as
// written in small pieces scans faster read into blocks. Returns the
// bytes consumed from start (marker included), -1 when the marker is not
// there, or none when the file cannot be mapped. A file that has become
// shorter than size by the time its bytes are read (someone truncated it
// during the scan) ends the scan where it now ends, instead of the SIGBUS
// that reading a page past its end raises.
std::optional<int64_t> scanMappedFile(int fd, off_t start, off_t size, MarkerMatcher& matcher);

// Advances the stream past the first full occurrence of the marker and returns
// the number of bytes consumed, marker included; -1 (after logging) when the
// stream ends first. A byte that breaks a partial match is not tried as the
// start of a new one.
int64_t scanToMarker(FILE* stream, std::span<const unsigned char> marker, const char* label);

// The eleven header fields that follow the Tail marker, in file order.
struct TailHeader {
  std::string appName;
  std::string appVersion;
  std::string jreVersion;
  std::string guVersion;
  std::string minSplashMs;
  std::string signaturePublicKey;
  std::string canOverrideSplash;
  std::string installType;
  std::string silentParameter;
  std::string requiredJavaVersion;
  std::string updateUrl;
};

struct TailHeaderField {
  const char* name;
  std::size_t size;  // reader buffer size: the longest value is size - 1
  std::string TailHeader::*member;
};

// The header fields in file order, shared by the reader and the builder.
extern const std::array<TailHeaderField, 11> kTailHeaderFields;

TailHeader readTailHeader(FILE* stream);
// The header as the file holds it: each field followed by its NUL.
std::vector<unsigned char> tailHeaderBytes(const TailHeader& header);

// True when the Params end marker stands right after the Params area that
// starts at the stream's position, which it is left at. A launcher file cut
// short anywhere (a download broken off) has lost it, and so has one whose
// area was changed in length; their parameters are not to be trusted.
bool paramsAreaIsWhole(FILE* stream);

// The tail stream (positioned in the tail) made to end where the Params
// marker starts, at paramsStart, which is where the tail's entries end. A
// file cut short inside them, with a whole Params section put back after the
// cut (as a server restamping the parameters of a partly cached file makes
// it), then ends its entries at the cut: read on, the Params section would
// pass for the missing bytes and the entries after them. A Params section
// before the tail bounds nothing. None when the stream cannot be made.
FilePtr endTailAtParams(FilePtr tail, off_t paramsStart);

// The Params section: "Params Count", then that many name/value pairs.
constexpr std::size_t kParamNameSize = 1024;
constexpr std::size_t kParamValueSize = 200000;

using Param = std::pair<std::string, std::string>;  // name, value

int64_t readParamsCount(FILE* stream);
Param readParam(FILE* stream);

}  // namespace velmoran
