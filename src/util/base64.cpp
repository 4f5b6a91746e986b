#include "util/base64.h"

#include <array>

namespace velmoran {
namespace {

constexpr std::string_view encoding_table =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<unsigned char, 256> makeDecodingTable() {
  std::array<unsigned char, 256> table{};
  for (std::size_t i = 0; i < encoding_table.size(); ++i) {
    table[static_cast<unsigned char>(encoding_table[i])] = static_cast<unsigned char>(i);
  }
  return table;
}

constexpr std::array<unsigned char, 256> decoding_table = makeDecodingTable();

}  // namespace

std::optional<std::vector<unsigned char>> base64_decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  if (text.empty()) return std::vector<unsigned char>{};
  std::size_t decodedLength = text.size() / 4 * 3;
  if (text[text.size() - 1] == '=') --decodedLength;
  if (text[text.size() - 2] == '=') --decodedLength;

  std::vector<unsigned char> out(decodedLength);
  std::size_t j = 0;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t triple = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const std::uint32_t sextet = c == '=' ? 0 : decoding_table[static_cast<unsigned char>(c)];
      triple = (triple << 6) | sextet;
    }
    if (j < decodedLength) out[j++] = static_cast<unsigned char>(triple >> 16);
    if (j < decodedLength) out[j++] = static_cast<unsigned char>(triple >> 8);
    if (j < decodedLength) out[j++] = static_cast<unsigned char>(triple);
  }
  return out;
}

}  // namespace velmoran
