// lzma64: the LZMA decompressor carried in every wrapper tail.
//   lzma64 d IN OUT   decodes the LZMA "alone" file IN into OUT.
// Exit status 0 only when OUT holds the whole decoded content; on failure the
// partial OUT is removed, so no caller can take it for a finished file.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/lzma.h"
#include "util/file.h"

namespace {

// removeOutput names the partial output to delete; only a regular file is
// removed, never a device or whatever else OUT may name.
int failWith(const char* removeOutput, const std::string& message) {
  std::fprintf(stderr, "lzma64: %s\n", message.c_str());
  if (removeOutput != nullptr) std::remove(removeOutput);
  return 1;
}

bool isRegularFile(FILE* f) {
  struct stat st;
  return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::strcmp(argv[1], "d") != 0) {
    std::fprintf(stderr, "Usage: lzma64 d INPUT OUTPUT\n");
    return 2;
  }
  const char* inPath = argv[2];
  const char* outPath = argv[3];
  velmoran::FilePtr in = velmoran::openFile(inPath, "rb");
  if (!in) return failWith(nullptr, std::string("cannot open ") + inPath + ": " + std::strerror(errno));
  velmoran::FilePtr out = velmoran::openFile(outPath, "wb");
  if (!out) return failWith(nullptr, std::string("cannot create ") + outPath + ": " + std::strerror(errno));

  const char* partial = isRegularFile(out.get()) ? outPath : nullptr;
  if (auto error = velmoran::decodeLzmaAloneFile(in.get(), out.get())) {
    out.reset();
    return failWith(partial, std::string(inPath) + ": " + *error);
  }
  if (std::fclose(out.release()) != 0) {
    return failWith(partial, std::string("writing ") + outPath + " failed: " + std::strerror(errno));
  }
  return 0;
}
