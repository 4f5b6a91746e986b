#include "archive/lzma.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmoran {
namespace {

// "hello" in the LZMA alone format, made by liblzma with an 8 MiB dictionary.
std::vector<unsigned char> helloStream() {
  lzma_options_lzma options;
  EXPECT_FALSE(lzma_lzma_preset(&options, 6));
  options.dict_size = kTailLzmaDictionarySize;
  lzma_stream strm = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_alone_encoder(&strm, &options), LZMA_OK);
  const std::string text = "hello";
  std::vector<unsigned char> out(4096);
  strm.next_in = reinterpret_cast<const uint8_t*>(text.data());
  strm.avail_in = text.size();
  strm.next_out = out.data();
  strm.avail_out = out.size();
  EXPECT_EQ(lzma_code(&strm, LZMA_FINISH), LZMA_STREAM_END);
  out.resize(out.size() - strm.avail_out);
  lzma_end(&strm);
  return out;
}

struct Decoded {
  std::optional<std::string> error;
  std::string text;
};

Decoded decode(const std::vector<unsigned char>& stream) {
  Decoded result;
  std::size_t at = 0;
  const auto input = [&](unsigned char* buffer, std::size_t size) -> std::ptrdiff_t {
    const std::size_t n = std::min(size, stream.size() - at);
    std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), n, buffer);
    at += n;
    return static_cast<std::ptrdiff_t>(n);
  };
  const auto output = [&](std::span<const unsigned char> bytes, std::string&) {
    result.text.append(bytes.begin(), bytes.end());
    return true;
  };
  result.error = decodeLzmaAlone(input, output);
  return result;
}

// The dictionary size the header states decides what the decoder reserves
// before a byte is decoded; the stream itself only needs 8 MiB.
struct DictionaryCase {
  const char* name;
  uint32_t dictionarySize;
  bool accepted;
};

class HeaderDictionary : public testing::TestWithParam<DictionaryCase> {};

TEST_P(HeaderDictionary, OnlyRealisticSizesAreReserved) {
  std::vector<unsigned char> stream = helloStream();
  ASSERT_GE(stream.size(), kLzmaAloneHeaderSize);
  for (int i = 0; i < 4; ++i) stream[1 + i] = static_cast<unsigned char>(GetParam().dictionarySize >> (8 * i));
  const Decoded decoded = decode(stream);
  if (GetParam().accepted) {
    EXPECT_EQ(decoded.error, std::nullopt);
    EXPECT_EQ(decoded.text, "hello");
  } else {
    EXPECT_EQ(decoded.error, "the dictionary is too large");
    EXPECT_EQ(decoded.text, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeaderDictionary,
                         testing::Values(DictionaryCase{"Tail", kTailLzmaDictionarySize, true},
                                         DictionaryCase{"LargestPreset", 64u << 20, true},
                                         DictionaryCase{"OneGiB", 1u << 30, false},
                                         DictionaryCase{"Largest", 0xFFFFFFFFu, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoran
