#include "util/fields.h"

#include <cstdlib>

#include "util/log.h"

namespace velmoran {

std::string readString(FILE* stream, const char* fieldName, std::size_t size) {
  std::string text;
  for (;;) {
    const int c = getc_unlocked(stream);
    if (c == '\0' || c == EOF) break;
    text.push_back(static_cast<char>(c));
    if (text.size() == size - 1) {
      logConsole("***WARNING - STRING TOO LONG FOR ALLOC %d>%d! (READSTRING) [%s]\n",
                  static_cast<int>(size - 1), static_cast<int>(size), text.c_str());
      break;
    }
  }
  (void)fieldName;
  return text;
}

int64_t readInt(FILE* stream, const char* fieldName) {
  const std::string text = readString(stream, fieldName, kIntFieldSize);
  return std::strtoll(text.c_str(), nullptr, 10);
}

bool readBoolean(FILE* stream, const char* fieldName) { return readInt(stream, fieldName) == 1; }

}  // namespace velmoran
