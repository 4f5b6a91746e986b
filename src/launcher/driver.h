// The driver: carries one run from the first read of the launcher's own
// file, through its stages, to the hand-over, and is the one place where a
// run ends.
#pragma once

#include "launcher/entry.h"

namespace velmoran {

// Never returns: the run ends with 0 after the hand-over (or, prepare-only,
// once everything is installed), with the status of a failed stage (1, 99,
// 101), or with 128 + the signal that interrupted it.
[[noreturn]] void runLauncher(const Invocation& invocation);

}  // namespace velmoran
