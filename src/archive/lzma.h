// Decoding of LZMA "alone" data (the .lzma format: a 13-byte header of
// properties, dictionary size and uncompressed size, then the raw stream).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace velmoran {

// The header of the compressed archives in a wrapper tail: properties byte
// 0x5D (lc 3, lp 0, pb 2) and an 8 MiB dictionary, then the 64-bit size.
constexpr unsigned char kTailLzmaProperties = 0x5D;
constexpr uint32_t kTailLzmaDictionarySize = 8u << 20;
constexpr std::size_t kLzmaAloneHeaderSize = 13;

// The uncompressed size an LZMA "alone" file's header declares: none when it
// says it does not know (all ones), or when the file has no whole header.
std::optional<uint64_t> lzmaAloneDeclaredSize(FILE* in);

// Fills the buffer with compressed bytes; returns the count, 0 at the end of
// the input, -1 on a read error.
using LzmaInput = std::function<std::ptrdiff_t(unsigned char* buffer, std::size_t size)>;
// Takes a run of decoded bytes; returning false stops decoding with that error text.
using LzmaOutput = std::function<bool(std::span<const unsigned char> decoded, std::string& error)>;

// Decodes one stream; none on success, otherwise why it failed. Bytes after
// the end of the stream are left unread.
std::optional<std::string> decodeLzmaAlone(const LzmaInput& input, const LzmaOutput& output);

// Decodes the whole of `in` into `out`, checking every write and the flush.
std::optional<std::string> decodeLzmaAloneFile(FILE* in, FILE* out);

}  // namespace velmoran
