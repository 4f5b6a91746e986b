// Fuzz target: Base64 decoding of the splash image parameter.
#include <cstdint>
#include <string_view>

#include "util/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto decoded = velmoran::base64_decode(text)) {
    // Every group of four characters gives at most three bytes.
    if (decoded->size() > size / 4 * 3) __builtin_trap();
  }
  return 0;
}
