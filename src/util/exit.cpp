#include "util/exit.h"

#include <cstdio>
#include <cstdlib>

namespace velmoran {
namespace {
FailedRunCleanup failedRunCleanup = nullptr;
}  // namespace

void setFailedRunCleanup(FailedRunCleanup cleanup) { failedRunCleanup = cleanup; }

#ifdef VELMORAN_FUZZ
namespace {
EndRunHook endRunHook = nullptr;
}  // namespace

void setEndRunHookForFuzzing(EndRunHook hook) { endRunHook = hook; }
#endif

// _Exit rather than exit: the splash threads may still be repainting, and
// static destructors must not run underneath them. Every record is already
// flushed, so nothing is lost.
void endRun(int status) {
#ifdef VELMORAN_FUZZ
  if (endRunHook != nullptr) endRunHook(status);
#endif
  if (status != 0 && failedRunCleanup != nullptr) {
    // Once: a cleanup that ends the run itself (a path refused) must not loop.
    const FailedRunCleanup cleanup = failedRunCleanup;
    failedRunCleanup = nullptr;
    cleanup();
  }
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace velmoran
