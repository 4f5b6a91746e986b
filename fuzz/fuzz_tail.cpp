// Fuzz target: a launcher file's tail as the launcher reads it, from the
// Params section through the header and the entry records.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "archive/container.h"
#include "launch/properties.h"
#include "launcher/dynamic_params.h"
#include "launcher/tail.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The readers log every step; keep the console out of the way.
  std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  if (FILE* in = fmemopen(bytes.data(), bytes.size(), "rb")) {
    if (velmoran::scanToMarker(in, velmoran::allocAndInitParamsMarker(), "Params") >= 0) {
      velmoran::PropertiesBlock properties;
      velmoran::readDynamicParams(in, properties);
    }
    std::fclose(in);
  }
  if (FILE* in = fmemopen(bytes.data(), bytes.size(), "rb")) {
    if (velmoran::scanToMarker(in, velmoran::allocAndInitMarker(), "Tail") >= 0) {
      velmoran::readTailHeader(in);
      for (int entry = 0; entry < 8 && !std::feof(in); ++entry) velmoran::readEntryHeader(in);
    }
    std::fclose(in);
  }
  return 0;
}
