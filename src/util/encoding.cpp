#include "util/encoding.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "util/log.h"

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

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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

bool isPlainBase64(std::string_view text) {
  if (text.size() % 4 != 0) return false;
  const std::size_t pad = text.find('=');
  const std::size_t body = pad == std::string_view::npos ? text.size() : pad;
  if (text.size() - body > 2 || text.find_first_not_of('=', body) != std::string_view::npos) return false;
  const std::size_t other = text.find_first_not_of(encoding_table);
  return (other == std::string_view::npos ? text.size() : other) == body;
}

int hexToBytes(unsigned char* out, int size, const char* text) {
  int count = 0;
  int written = 0;
  const char* p = text;
  while (true) {
    const int high = hexDigit(p[0]);
    if (high < 0) break;
    const int low = hexDigit(p[1]);
    const int value = low < 0 ? high : high * 16 + low;
    if (written < size - 1) out[written++] = static_cast<unsigned char>(value);
    ++count;
    // A lone last digit is a byte of its own and ends the text.
    if (low < 0) break;
    p += 2;
  }
  if (size > 0) out[written] = 0;
  if (count >= size) {
    logConsole("[Utils] ERROR - HexToBytes is writing too far! %d %d\n", count, size);
    std::fflush(stdout);
  }
  return written;
}

std::vector<unsigned char> hexToBytes(std::string_view text) {
  const std::string terminated(text);
  std::vector<unsigned char> out(terminated.size() / 2 + 2);
  out.resize(static_cast<std::size_t>(hexToBytes(out.data(), static_cast<int>(out.size()), terminated.c_str())));
  return out;
}

int bytesToHex(char* out, const unsigned char* bytes, int count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < count; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  out[count > 0 ? 2 * count : 0] = '\0';
  return count > 0 ? 2 * count : 0;
}

std::string bytesToHex(const unsigned char* bytes, std::size_t count) {
  std::string text(2 * count, '\0');
  bytesToHex(text.data(), bytes, static_cast<int>(count));
  return text;
}

}  // namespace velmoran
