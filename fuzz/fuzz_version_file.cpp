// Fuzz target: the JRE version file from the update server, read as the JRE
// download reads it.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "format/version_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmoran::fuzz::prepare();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const velmoran::fuzz::Scratch scratch;
  const std::string path = scratch.writeInput("version.txt", data, size);
  const velmoran::Result<std::string> version = velmoran::readDownloadedVersion(path);
  // What comes back becomes a folder name: digits only, at most 50.
  if (version.ok() && (version->size() > 50 || version->find_first_not_of("0123456789") != std::string::npos)) {
    __builtin_trap();
  }
  return 0;
}
