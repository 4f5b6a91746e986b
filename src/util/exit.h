// The one place where a run ends.
#pragma once

namespace velmoran {

// Flushes the standard streams and the log file and ends the process with the
// given status. Logs nothing of its own. A failed run (status not 0) first
// calls the cleanup set with setFailedRunCleanup, if any. One thread ends the
// run: when another one is ending it already (util/stop.h), the caller stays
// here until the process ends.
[[noreturn]] void endRun(int status);

// What a failed run undoes before it ends: the install layer removes the
// temporary folders the run made, which no later run would rename. None
// (nullptr) clears it.
using FailedRunCleanup = void (*)();
void setFailedRunCleanup(FailedRunCleanup cleanup);
// True while a cleanup is set: the run may have made something to undo.
bool hasFailedRunCleanup();

#ifdef VELMORAN_FUZZ
// Fuzz builds only (the shipped programs are never built with it): endRun
// first calls the hook, which hands control back to the fuzz target by
// throwing, so one bad input does not end the fuzzing process. A hook that
// returns lets the run end as usual.
using EndRunHook = void (*)(int status);
void setEndRunHookForFuzzing(EndRunHook hook);
#endif

}  // namespace velmoran
