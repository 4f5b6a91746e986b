#include "util/cpu_level.h"

#ifdef VELMORAN_CPU_LEVELS
#include <sys/platform/x86.h>
#endif

namespace velmoran {

#ifdef VELMORAN_CPU_LEVELS

namespace {

bool hasV2() {
  return CPU_FEATURE_ACTIVE(CMPXCHG16B) && CPU_FEATURE_ACTIVE(LAHF64_SAHF64) && CPU_FEATURE_ACTIVE(POPCNT) &&
         CPU_FEATURE_ACTIVE(SSE3) && CPU_FEATURE_ACTIVE(SSE4_1) && CPU_FEATURE_ACTIVE(SSE4_2) &&
         CPU_FEATURE_ACTIVE(SSSE3);
}

}  // namespace

bool cpuHasX86_64_v3() {
  return hasV2() && CPU_FEATURE_ACTIVE(AVX) && CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) &&
         CPU_FEATURE_ACTIVE(BMI2) && CPU_FEATURE_ACTIVE(F16C) && CPU_FEATURE_ACTIVE(FMA) &&
         CPU_FEATURE_ACTIVE(LZCNT) && CPU_FEATURE_ACTIVE(MOVBE);
}

bool cpuHasX86_64_v4() {
  return cpuHasX86_64_v3() && CPU_FEATURE_ACTIVE(AVX512F) && CPU_FEATURE_ACTIVE(AVX512BW) &&
         CPU_FEATURE_ACTIVE(AVX512CD) && CPU_FEATURE_ACTIVE(AVX512DQ) && CPU_FEATURE_ACTIVE(AVX512VL);
}

#else

bool cpuHasX86_64_v3() { return false; }
bool cpuHasX86_64_v4() { return false; }

#endif

}  // namespace velmoran
