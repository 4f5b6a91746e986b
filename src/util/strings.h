// Small text helpers.
#pragma once

#include <string>
#include <string_view>

namespace velmoran {

// count characters of text from index start; the caller keeps the range inside the text.
std::string allocSubstring(std::string_view text, int start, int count);
// Index of the n-th (1-based) occurrence of c, or -1; n of 0 or less never matches.
int indexOf(std::string_view text, char c, int n);
// Index of the last occurrence of c, or -1.
int lastIndexOf(std::string_view text, char c);
// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace velmoran
