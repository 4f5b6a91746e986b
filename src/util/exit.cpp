#include "util/exit.h"

#include <cstdio>
#include <cstdlib>

namespace velmoran {

// _Exit rather than exit: the splash threads may still be repainting, and
// static destructors must not run underneath them. Every record is already
// flushed, so nothing is lost.
void endRun(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace velmoran
