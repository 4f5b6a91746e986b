// Fuzz target: Base64 decoding of the splash image parameter, and hex
// decoding of the public key and signature texts.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "util/encoding.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmoran::fuzz::prepare();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto decoded = velmoran::base64_decode(text)) {
    // Every group of four characters gives at most three bytes.
    if (decoded->size() > size / 4 * 3) __builtin_trap();
  }
  if (velmoran::isPlainBase64(text) && !velmoran::base64_decode(text)) __builtin_trap();

  // Two digits make a byte, a lone last digit one more.
  const std::vector<unsigned char> bytes = velmoran::hexToBytes(text);
  if (bytes.size() > size / 2 + 1) __builtin_trap();
  // An area of any size is never written past; the first input byte picks it.
  const std::string terminated(text);
  const int areaSize = size > 0 ? data[0] % 16 : 0;
  std::vector<unsigned char> area(static_cast<std::size_t>(areaSize) + 1, 0xEE);
  velmoran::hexToBytes(area.data(), areaSize, terminated.c_str());
  if (area[static_cast<std::size_t>(areaSize)] != 0xEE) __builtin_trap();
  return 0;
}
