// The one place where a run ends.
#pragma once

namespace velmoran {

// Flushes the standard streams and the log file and ends the process with the
// given status. Logs nothing of its own.
[[noreturn]] void endRun(int status);

}  // namespace velmoran
