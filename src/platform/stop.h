// Stopping a run from another thread than the main one (the signal watcher,
// util/signals.h). The main thread does all the writing; it is stopped at its
// next step, never in the middle of one, so that what it was making can be
// removed without it making more: at each record (the logger), at endRun,
// and when it starts waiting for a child, which the stop kills.
#pragma once

#include <sys/types.h>

#include <chrono>

namespace velmoran {

// Marks the calling thread as the main thread, the one a stop waits for.
void setMainThread();

// Only one thread ends a run. endRun claims the end first, and so does the
// signal watcher before it stops the main thread, so the two never clean up
// at once. A thread that finds the end claimed by another one stays here
// until that one ends the process. Claiming twice on one thread is harmless.
void claimRunEnd();

// True once requestStop was called. Long work off the main thread (a
// download) polls it to give up early.
bool stopRequested();

// A stopping point: once a stop was asked, every thread but the stopping one
// stays here for good (the main thread tells the stopper it got here); until
// then it returns at once. Inside a StopDeferred scope it returns too.
void parkIfStopRequested();

// A step that must not be cut in the middle (a folder made and then noted as
// this run's): a stop asked meanwhile takes effect at the end of the scope.
class StopDeferred {
 public:
  StopDeferred();
  ~StopDeferred();
  StopDeferred(const StopDeferred&) = delete;
  StopDeferred& operator=(const StopDeferred&) = delete;
};

// Asks the stop: from now on the main thread parks at its next stopping
// point, and the child it waits for is killed and has ended when this returns.
void requestStop();
// Waits up to patience for the main thread to park after requestStop; true
// when it did, and the caller then runs alone but for threads that neither
// write files nor log.
bool awaitMainThreadParked(std::chrono::milliseconds patience);

// The main thread is about to wait for the child pid (started, not yet
// reaped): a stop kills it. When a stop was asked already, the child is
// killed here and the thread parks.
void waitingForChild(pid_t pid);
// The child has ended (waitid with WNOWAIT) and is about to be reaped: its
// pid may be reused from then on, so a stop must no longer touch it.
void childEnded(pid_t pid);

}  // namespace velmoran
