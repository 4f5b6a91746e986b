#include "launcher/tail.h"

#include <sys/types.h>

#include <cstring>

#include "util/fields.h"
#include "util/log.h"

namespace velmoran {
namespace {

constexpr unsigned char kMask = 0xA7;

// The marker bytes are stored masked, so the image holds no plain copy.
template <std::size_t N>
consteval std::array<unsigned char, N> masked(const unsigned char (&plain)[N]) {
  std::array<unsigned char, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<unsigned char>(plain[i] ^ kMask ^ (i * 13));
  return out;
}

// The plain bytes live only inside consteval functions: a constexpr variable
// holding them would reach the binary through its debug information.
consteval std::array<unsigned char, kTailMarkerLength> maskedTailMarker() {
  const unsigned char plain[kTailMarkerLength] = {
    0x1D, 0x43, 0x2A, 0x50, 0x5B, 0x7A, 0x1F, 0x64, 0x23, 0x47, 0x21, 0x24, 0x17, 0x32, 0x3C, 0x50,
    0x21, 0x6C, 0x04, 0x66, 0x29, 0x5C, 0x29, 0x7B, 0x0B, 0x5B, 0x19, 0x33, 0x2F, 0x4F, 0x0F, 0x4D,
    0x27, 0x58, 0x18, 0x24, 0x15, 0x39, 0x4E, 0x79, 0x2B, 0x76, 0x15, 0x59, 0x3D, 0x57, 0x49, 0x00,
    0x11, 0x29, 0x05, 0x65, 0x2B, 0x10, 0x70, 0x66, 0x5E, 0x2D, 0x40, 0x60, 0x75, 0x43, 0x30, 0x08,
    0x61, 0x4A, 0x74, 0x7E, 0x40, 0x1B, 0x53, 0x3B, 0x56, 0x46, 0x37, 0x1E, 0x4B, 0x2C, 0x72, 0x59,
    0x30, 0x44, 0x3A, 0x3C, 0x2F, 0x44, 0x78, 0x2B, 0x26, 0x65, 0x71, 0x71, 0x39, 0x73, 0x25, 0x23,
    0x10, 0x14, 0x51, 0x24, 0x31, 0x70, 0x10, 0x4A, 0x0D, 0x05, 0x57, 0x2A, 0x06, 0x0A, 0x53, 0x21,
    0x4D, 0x2C, 0x13, 0x00, 0x36, 0x29, 0x1A, 0x74, 0x47, 0x2D, 0x1A, 0x55, 0x2C, 0x2F, 0x42, 0x63,
  };
  return masked(plain);
}

consteval std::array<unsigned char, kParamsMarkerLength> maskedParamsMarker() {
  const unsigned char plain[kParamsMarkerLength] = {
    0x59, 0xBD, 0xC9, 0x52, 0xAA, 0x35, 0xAD, 0xBB, 0x10, 0xEF, 0xDE, 0x67, 0x2C, 0x47, 0xE0, 0xB5,
    0xD4, 0x82, 0x1F, 0x81, 0x52, 0xA1, 0x02, 0x44, 0x2A, 0xEB, 0xAA, 0x7B, 0x79, 0x3B, 0x93, 0x45,
    0xAE, 0xD2, 0x09, 0x7A, 0x3E, 0x2F, 0x2E, 0xFA, 0xFF, 0x1D, 0xF0, 0x9B, 0x19, 0x7C, 0x15, 0xB8,
    0x1E, 0x6D, 0xC6, 0x10, 0x41, 0x7E, 0x5C, 0xED, 0x51, 0xB1, 0x19, 0x1C, 0x3C, 0xE2, 0x94, 0xD8,
  };
  return masked(plain);
}

constexpr auto kTailMasked = maskedTailMarker();
constexpr auto kParamsMasked = maskedParamsMarker();

template <std::size_t N>
std::vector<unsigned char> unmask(const std::array<unsigned char, N>& stored) {
  // A volatile key keeps the optimiser from folding the loop into the plain bytes.
  volatile unsigned char key = kMask;
  std::vector<unsigned char> marker(N);
  for (std::size_t i = 0; i < N; ++i) {
    marker[i] = static_cast<unsigned char>(stored[i] ^ key ^ (i * 13));
  }
  return marker;
}

}  // namespace

std::vector<unsigned char> allocAndInitMarker() { return unmask(kTailMasked); }

std::vector<unsigned char> allocAndInitParamsMarker() { return unmask(kParamsMasked); }

const unsigned char* MarkerMatcher::feed(const unsigned char* p, const unsigned char* end) {
  // Skipping to candidate first bytes with memchr gives the same result as
  // the byte-by-byte rule, at close to the speed of a plain read.
  while (p < end) {
    if (matched_ == 0) {
      const void* hit = std::memchr(p, marker_[0], static_cast<std::size_t>(end - p));
      if (hit == nullptr) return nullptr;
      p = static_cast<const unsigned char*>(hit) + 1;
      matched_ = 1;
    } else {
      matched_ = (*p == marker_[matched_]) ? matched_ + 1 : 0;
      ++p;
    }
    if (matched_ == marker_.size()) {
      matched_ = 0;
      return p;
    }
  }
  return nullptr;
}

int64_t findMarkerEnd(std::span<const unsigned char> bytes, std::span<const unsigned char> marker) {
  MarkerMatcher matcher(marker);
  const unsigned char* after = matcher.feed(bytes.data(), bytes.data() + bytes.size());
  return after == nullptr ? -1 : after - bytes.data();
}

int64_t scanToMarker(FILE* stream, std::span<const unsigned char> marker, const char* label) {
  const off_t start = ftello(stream);
  std::vector<unsigned char> block(1 << 20);
  MarkerMatcher matcher(marker);
  int64_t consumed = 0;
  for (;;) {
    const std::size_t got = std::fread(block.data(), 1, block.size(), stream);
    if (got == 0) {
      logMessage("Could not find marker: %s\n", label);
      return -1;
    }
    if (const unsigned char* after = matcher.feed(block.data(), block.data() + got)) {
      consumed += after - block.data();
      fseeko(stream, start + consumed, SEEK_SET);
      return consumed;
    }
    consumed += static_cast<int64_t>(got);
  }
}

const std::array<TailHeaderField, 11> kTailHeaderFields = {{
    {"App Name", 1024, &TailHeader::appName},
    {"App Version", 1024, &TailHeader::appVersion},
    {"JRE Version", 1024, &TailHeader::jreVersion},
    {"GU Version", 1024, &TailHeader::guVersion},
    {"Min Splash MS", 1024, &TailHeader::minSplashMs},
    {"Signature Public Key", 8192, &TailHeader::signaturePublicKey},
    {"Can Override Splash", 1024, &TailHeader::canOverrideSplash},
    {"Install Type", 1024, &TailHeader::installType},
    {"Silent Parameter", 1024, &TailHeader::silentParameter},
    {"Required Java Version", 1024, &TailHeader::requiredJavaVersion},
    {"Update URL", 5000, &TailHeader::updateUrl},
}};

TailHeader readTailHeader(FILE* stream) {
  TailHeader header;
  for (const TailHeaderField& field : kTailHeaderFields) {
    header.*field.member = readString(stream, field.name, field.size);
  }
  return header;
}

}  // namespace velmoran
