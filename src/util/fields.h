// Readers of the NUL-terminated text fields that the wrapper tail, archive
// entries, launch files and LSO files are made of.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace velmoran {

constexpr std::size_t kDefaultFieldSize = 1024;
// The buffer readInt reads a number's text into.
constexpr std::size_t kIntFieldSize = 40;

// Reads bytes up to a NUL (consumed) or the end of the stream. At most size - 1
// bytes are kept: on reaching that many a warning is printed and reading stops,
// leaving the rest of the field in the stream for the next read.
std::string readString(FILE* stream, const char* fieldName, std::size_t size = kDefaultFieldSize);
// readString of size kIntFieldSize converted like atol (an empty or non-numeric text is 0).
int64_t readInt(FILE* stream, const char* fieldName);
// True exactly when readInt gives 1.
bool readBoolean(FILE* stream, const char* fieldName);

}  // namespace velmoran
