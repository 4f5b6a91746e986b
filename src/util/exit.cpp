#include "util/exit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "util/stop.h"

namespace velmoran {
namespace {
// Read by the signal watcher too.
std::atomic<FailedRunCleanup> failedRunCleanup{nullptr};
}  // namespace

void setFailedRunCleanup(FailedRunCleanup cleanup) { failedRunCleanup = cleanup; }

bool hasFailedRunCleanup() { return failedRunCleanup != nullptr; }

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
  claimRunEnd();
  if (status != 0) {
    // Once: a cleanup that ends the run itself (a path refused) must not loop.
    if (const FailedRunCleanup cleanup = failedRunCleanup.exchange(nullptr)) cleanup();
  }
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace velmoran
