// Scans a launcher file for the Params marker the way a run does, and prints
// where the Params section starts. Timed against a plain read by params_scan.sh.
#include <cinttypes>
#include <cstdio>

#include "format/tail.h"
#include "util/file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: params_scan LAUNCHER_FILE\n");
    return 2;
  }
  velmoran::FilePtr file = velmoran::openFile(argv[1], "rb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  const int64_t at = velmoran::scanToMarker(file.get(), velmoran::allocAndInitParamsMarker(), "Params");
  std::printf("%" PRId64 "\n", at);
  return at < 0 ? 1 : 0;
}
