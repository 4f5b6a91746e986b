#include "archive/lzma.h"

#include <lzma.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace velmoran {
namespace {

constexpr std::size_t kInputBufferSize = 256 * 1024;
// The tail decoder copies this on into its own chunks: a larger buffer only costs memory.
constexpr std::size_t kOutputBufferSize = 256 * 1024;
// The decoder reserves the dictionary the header asks for, up to 4 GiB. The
// tail's archives use 8 MiB and the largest preset of the common LZMA tools
// 64 MiB; a header asking for more than this is refused, not reserved.
constexpr uint64_t kDecoderMemoryLimit = 256u << 20;

const char* describe(lzma_ret ret) {
  switch (ret) {
    case LZMA_FORMAT_ERROR: return "the data is not in the LZMA format";
    case LZMA_OPTIONS_ERROR: return "the LZMA header holds unsupported options";
    case LZMA_DATA_ERROR: return "the compressed data is corrupt";
    case LZMA_BUF_ERROR: return "the compressed data ends early";
    case LZMA_MEM_ERROR: return "out of memory";
    case LZMA_MEMLIMIT_ERROR: return "the dictionary is too large";
    default: return "the LZMA decoder failed";
  }
}

struct StreamEnd {
  void operator()(lzma_stream* s) const noexcept { lzma_end(s); }
};

}  // namespace

std::optional<uint64_t> lzmaAloneDeclaredSize(FILE* in) {
  unsigned char header[kLzmaAloneHeaderSize];
  if (std::fread(header, 1, sizeof header, in) != sizeof header) return std::nullopt;
  uint64_t size = 0;
  for (int i = 12; i >= 5; --i) size = (size << 8) | header[i];
  if (size == UINT64_MAX) return std::nullopt;
  return size;
}

std::optional<std::string> decodeLzmaAlone(const LzmaInput& input, const LzmaOutput& output) {
  lzma_stream strm = LZMA_STREAM_INIT;
  const lzma_ret init = lzma_alone_decoder(&strm, kDecoderMemoryLimit);
  if (init != LZMA_OK) return std::string(describe(init));
  const std::unique_ptr<lzma_stream, StreamEnd> guard(&strm);

  std::vector<unsigned char> in(kInputBufferSize);
  std::vector<unsigned char> out(kOutputBufferSize);
  lzma_action action = LZMA_RUN;
  strm.next_out = out.data();
  strm.avail_out = out.size();
  std::string error;
  for (;;) {
    if (strm.avail_in == 0 && action == LZMA_RUN) {
      const std::ptrdiff_t n = input(in.data(), in.size());
      if (n < 0) return std::string("the compressed data could not be read");
      if (n == 0) action = LZMA_FINISH;
      strm.next_in = in.data();
      strm.avail_in = static_cast<std::size_t>(n);
    }
    const lzma_ret ret = lzma_code(&strm, action);
    if (strm.avail_out == 0 || ret == LZMA_STREAM_END) {
      const std::size_t produced = out.size() - strm.avail_out;
      if (produced > 0 && !output(std::span<const unsigned char>(out.data(), produced), error)) return error;
      strm.next_out = out.data();
      strm.avail_out = out.size();
    }
    if (ret == LZMA_STREAM_END) return std::nullopt;
    if (ret != LZMA_OK) return std::string(describe(ret));
  }
}

std::optional<std::string> decodeLzmaAloneFile(FILE* in, FILE* out) {
  const auto read = [in](unsigned char* buffer, std::size_t size) -> std::ptrdiff_t {
    const std::size_t n = std::fread(buffer, 1, size, in);
    if (n == 0 && std::ferror(in)) return -1;
    return static_cast<std::ptrdiff_t>(n);
  };
  const auto write = [out](std::span<const unsigned char> decoded, std::string& error) {
    if (std::fwrite(decoded.data(), 1, decoded.size(), out) == decoded.size()) return true;
    error = std::string("writing failed: ") + std::strerror(errno);
    return false;
  };
  if (auto error = decodeLzmaAlone(read, write)) return error;
  if (std::fflush(out) != 0) return std::string("writing failed: ") + std::strerror(errno);
  return std::nullopt;
}

}  // namespace velmoran
