#include "util/strings.h"

#include <cstdarg>
#include <cstdio>

namespace velmoran {

std::string allocSubstring(std::string_view text, int start, int count) {
  return std::string(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count)));
}

int indexOf(std::string_view text, char c, int n) {
  int seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == c && ++seen == n) return static_cast<int>(i);
  }
  return -1;
}

int lastIndexOf(std::string_view text, char c) {
  const std::size_t pos = text.rfind(c);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  va_end(args);
  return out;
}

}  // namespace velmoran
