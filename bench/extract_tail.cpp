// Extracts the tail entries of a file (entry records one after the other, as
// in a wrapper tail) into a folder, the way a run does. Timed against
// xz | tar by extract.sh.
//   extract_tail ENTRIES DEST [PUBLIC_KEY_HEX_FILE]
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/signature.h"
#include "util/encoding.h"
#include "util/file.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: extract_tail ENTRIES DEST [PUBLIC_KEY_HEX_FILE]\n");
    return 2;
  }
  velmoran::RsaKeyPtr key;
  if (argc == 4) {
    std::ifstream in(argv[3]);
    std::string hex(std::istreambuf_iterator<char>(in), {});
    const std::vector<unsigned char> der = velmoran::hexToBytes(hex);
    key = velmoran::loadDEREncodedPublicKey(der.data(), static_cast<int>(der.size()));
    if (!key) return 1;
  }
  velmoran::FilePtr entries = velmoran::openFile(argv[1], "rb");
  if (!entries) {
    std::perror(argv[1]);
    return 1;
  }
  const std::string dest = argv[2];
  bool accepted = true;
  while (std::ungetc(std::getc(entries.get()), entries.get()) != EOF) {
    const velmoran::Result<bool> one =
        velmoran::extractArchiveFileIgnoreSignature(dest + "/lzma64", std::nullopt, dest, entries.get(), key.get());
    if (!one.ok()) return one.status().exitStatus();
    accepted = accepted && *one;
  }
  return accepted ? 0 : 3;
}
