// Fuzz target: an archive's entries as extraction and inspect read them,
// headers through the container reader, data skipped, and the signature
// block read again where its signed length points.
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "archive/container.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Over-long fields are reported on the console.
  std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
  if (in == nullptr) return 0;
  const auto total = static_cast<int64_t>(size);
  // Every header consumes at least its type field's byte, so this ends.
  for (;;) {
    const int64_t before = ftello(in);
    const velmoran::EntryHeader entry = velmoran::readEntryHeader(in);
    if (entry.end || entry.cut != velmoran::CutField::kNone) break;
    if (ftello(in) <= before) __builtin_trap();
    if (entry.signature) {
      const int64_t at = entry.signature->signedLength;
      if (at >= 0 && at < total && fseeko(in, static_cast<off_t>(at), SEEK_SET) == 0) {
        velmoran::rereadSignatureBlock(in);
      }
      break;
    }
    if (entry.isFolder()) continue;
    if (entry.length < 0 || entry.length > total - ftello(in)) break;
    fseeko(in, static_cast<off_t>(entry.length), SEEK_CUR);
  }
  velmoran::isUnsafeEntryPath(std::string_view(reinterpret_cast<const char*>(data), size));
  std::fclose(in);
  return 0;
}
