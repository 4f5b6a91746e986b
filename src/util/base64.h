// Base64 decoding (standard alphabet, "=" padding), for the splash image parameter.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace velmoran {

// None when the length is not a multiple of 4. Characters outside the alphabet
// count as 0, as "=" does; an empty text decodes to nothing.
std::optional<std::vector<unsigned char>> base64_decode(std::string_view text);

}  // namespace velmoran
