// Signal dispositions the launcher sets for itself, and what it does on the
// signals that end a run.
#pragma once

namespace velmoran {

// Ignores SIGPIPE, so a write to a closed socket or pipe (an X server that has
// gone away, a console reader that quit) fails with EPIPE instead of killing
// the process, and SIGXFSZ, so a write past a file size limit (which the
// launcher sets for a moment while it starts a child under a limit) fails
// with EFBIG. Children get the defaults back when they are started (the
// spawner), since an ignored signal is inherited across exec.
void ignoreSigpipe();

// What a run does on SIGINT, SIGTERM or SIGHUP, on the thread that waits for
// them; it ends the process.
using InterruptionHandler = void (*)(int signalNumber);

// Call it first thing on the main thread, before any other thread exists: it
// blocks the three signals there, so every later thread inherits the mask,
// makes every log record a stopping point of the main thread (platform/stop.h),
// and starts the one thread that waits for the signals and hands them to
// onInterruption. Children are started with an empty mask (the spawner).
void watchInterruptions(InterruptionHandler onInterruption);

// For the main thread after a child it waited for was ended by childSignal.
// A Ctrl-C reaches the launcher's whole process group, the child with it: the
// run is then about to be ended by the same signal, and this waits for that
// (the thread parks) rather than let the run go on to fail the step. A child
// that got SIGINT, SIGTERM or SIGHUP alone costs a pause of 2 seconds.
void awaitInterruptionAfterChildSignal(int childSignal);

}  // namespace velmoran
