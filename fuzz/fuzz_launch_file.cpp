// Fuzz target: the launch file and LSO file readers over the same bytes.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz_support.h"
#include "format/launch_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmoran::fuzz::prepare();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  if (FILE* in = fmemopen(bytes.data(), bytes.size(), "rb")) {
    velmoran::readLaunchFile(in);
    std::fclose(in);
  }
  if (FILE* in = fmemopen(bytes.data(), bytes.size(), "rb")) {
    velmoran::readLsoFile(in);
    std::fclose(in);
  }
  return 0;
}
