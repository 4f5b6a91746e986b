// Fuzz target: the banner of `java -version` (standard error and output
// together), as the JRE version check reads it.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "launch/jre.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmoran::fuzz::prepare();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string banner(reinterpret_cast<const char*>(data), size);
  const std::string feature = velmoran::parseJavaVersionBanner(banner);
  // Always a version ("0" for none), and never more than the quoted text.
  if (feature.empty() || feature.find('"') != std::string::npos) __builtin_trap();
  return 0;
}
