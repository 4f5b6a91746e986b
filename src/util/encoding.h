// Text encodings of bytes: Base64 (standard alphabet, "=" padding) for the
// splash image parameter, and hex for the public key, the signature text and
// the digests in the log.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran {

// None when the length is not a multiple of 4. Characters outside the alphabet
// count as 0, as "=" does; an empty text decodes to nothing.
std::optional<std::vector<unsigned char>> base64_decode(std::string_view text);

// True for Base64 on one line, as "base64 -w0" writes it: alphabet characters
// only, a length that is a multiple of 4, and "=" only as the last one or two.
bool isPlainBase64(std::string_view text);

// Decodes pairs of hex digits (either case) until the first non-digit; an odd
// last digit makes a byte of its own (0..15). Writes at most size - 1 bytes
// and a zero byte behind them, and returns the number of bytes decoded; when
// that reaches size, prints "[Utils] ERROR - HexToBytes is writing too far! %d %d\n"
// (count, size) and the excess is dropped, not written.
int hexToBytes(unsigned char* out, int size, const char* text);
std::vector<unsigned char> hexToBytes(std::string_view text);

// Writes 2 * count lowercase hex digits and a NUL (out holds 2 * count + 1)
// and returns 2 * count.
int bytesToHex(char* out, const unsigned char* bytes, int count);
std::string bytesToHex(const unsigned char* bytes, std::size_t count);

}  // namespace velmoran
