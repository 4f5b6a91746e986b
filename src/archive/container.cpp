#include "archive/container.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdlib>

namespace velmoran {
namespace {

// A field ended by the end of the input or a read error instead of its NUL.
bool cutShort(FILE* stream) { return std::feof(stream) != 0 || std::ferror(stream) != 0; }

std::string readField(FILE* stream, const char* label, std::size_t size, bool& overlong) {
  std::string text = readString(stream, label, size);
  if (text.size() + 1 == size) overlong = true;
  return text;
}

int64_t readNumber(FILE* stream, const char* label, bool& overlong) {
  return std::strtoll(readField(stream, label, kIntFieldSize, overlong).c_str(), nullptr, 10);
}

SignatureFields readSignatureFields(FILE* stream, bool& overlong) {
  SignatureFields fields;
  fields.signedLength = readNumber(stream, kSignedLengthLabel, overlong);
  fields.hex = readField(stream, kSignatureHexLabel, kSignatureHexSize, overlong);
  return fields;
}

}  // namespace

bool EntryHeader::isSpecialBlock() const {
  return !isFolder() && length != 0 && path.starts_with(kSpecialBlockPrefix);
}

EntryHeader readEntryHeader(FILE* stream) {
  EntryHeader entry;
  entry.offset = ftello(stream);
  entry.typeText = readField(stream, kEntryTypeLabel, kEntryTypeSize, entry.overlong);
  if (entry.typeText.empty()) {
    entry.end = true;
    if (std::ferror(stream)) entry.cut = CutField::kTypeOrPath;
    return entry;
  }
  entry.type = std::strtol(entry.typeText.c_str(), nullptr, 10);
  entry.path = readField(stream, kEntryPathLabel, kEntryPathSize, entry.overlong);
  if (cutShort(stream)) {
    entry.cut = CutField::kTypeOrPath;
    return entry;
  }
  if (entry.isFolder()) return entry;
  entry.length = readNumber(stream, kEntryLengthLabel, entry.overlong);
  if (cutShort(stream)) {
    entry.cut = CutField::kLength;
    return entry;
  }
  if (entry.length != 0 && entry.path == kSignatureBlockName) {
    entry.signature = readSignatureFields(stream, entry.overlong);
  }
  return entry;
}

SignatureBlockReread rereadSignatureBlock(FILE* stream) {
  SignatureBlockReread block;
  bool overlong = false;
  readString(stream, "Signature Check File Type", kEntryTypeSize);
  block.name = readString(stream, "Signature Check ASB name", kEntryPathSize);
  readInt(stream, "ASB Length");
  block.fields = readSignatureFields(stream, overlong);
  return block;
}

bool isUnsafeEntryPath(std::string_view path) {
  if (!path.empty() && path.front() == '/') return true;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace velmoran
